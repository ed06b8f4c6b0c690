#include "git/snapshot.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <set>

#include "common/parallel.h"
#include "git/protocol.h"
#include "git/sha1.h"
#include "platform/platform.h"

namespace tvkgit {
namespace {

bool is_sha1_name(const std::string &object) {
  return object.size() == 40 && std::all_of(object.begin(), object.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// Writes the blobs that `git cat-file --batch` prints to every path that
// wants each, as they arrive.
class BlobWriter {
public:
  BlobWriter(PrivateFolder *folder, std::map<std::string, std::vector<const IndexFile *>> wanted)
      : folder_(folder), wanted_(std::move(wanted)) {}

  void take(std::string_view bytes) {
    pending_.append(bytes);
    while (failure_.empty() && step()) {
    }
  }

  // Empty when every blob was written, else why not.
  std::string outcome() const {
    if (!failure_.empty() || written_ == wanted_.size())
      return failure_;
    return "git did not hand over every staged file";
  }

private:
  // Handles one header or one whole blob from PENDING_; false when more
  // bytes are needed.
  bool step() {
    if (!object_) {
      std::size_t end = pending_.find('\n');
      if (end == std::string::npos)
        return false;
      std::string header = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      std::size_t blank = header.find(' ');
      std::size_t last = header.rfind(' ');
      auto found = wanted_.find(header.substr(0, blank));
      if (found == wanted_.end() || blank == last || header.compare(blank, 6, " blob ") != 0) {
        failure_ = "git could not hand over an object: " + header;
        return false;
      }
      const char *digits = header.c_str() + last + 1;
      auto [end_of_size, error] = std::from_chars(digits, header.c_str() + header.size(), size_);
      if (error != std::errc() || *end_of_size != '\0') {
        failure_ = "git could not hand over an object: " + header;
        return false;
      }
      object_ = &found->second;
      return true;
    }
    if (pending_.size() < size_ + 1)
      return false;
    std::string_view content(pending_.data(), size_);
    for (const IndexFile *file : *object_) {
      if (!write_copy(*file, content)) {
        failure_ = "cannot write a copy of '" + file->path + "' in '" + folder_->path() + "'";
        return false;
      }
    }
    ++written_;
    pending_.erase(0, size_ + 1);
    object_ = nullptr;
    return true;
  }

  bool write_copy(const IndexFile &file, std::string_view content) {
    std::string relative = "index/" + file.path;
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
      std::string folder = relative.substr(0, slash);
      if (folders_.insert(folder).second &&
          platform::path_kind((folder_->path() + "/" + folder).c_str()) ==
              platform::PathKind::Missing &&
          !platform::make_folder((folder_->path() + "/" + folder).c_str()).ok())
        return false;
    }
    if (!folder_->write_file(relative, content))
      return false;
    return file.mode != "100755" ||
           platform::make_executable((folder_->path() + "/" + relative).c_str()).ok();
  }

  PrivateFolder *folder_;
  std::map<std::string, std::vector<const IndexFile *>> wanted_;
  std::set<std::string> folders_;
  std::string pending_;
  const std::vector<const IndexFile *> *object_ = nullptr;
  std::size_t size_ = 0;
  std::size_t written_ = 0;
  std::string failure_;
};

bool export_blobs(const Repository &repository, const std::vector<const IndexFile *> &files,
                  PrivateFolder *folder) {
  if (!folder->exists()) {
    std::string error;
    if (!folder->create(&error)) {
      report(error);
      return false;
    }
  }
  std::map<std::string, std::vector<const IndexFile *>> wanted;
  std::string objects;
  for (const IndexFile *file : files) {
    std::vector<const IndexFile *> &paths = wanted[file->object];
    if (paths.empty())
      objects += file->object + "\n";
    paths.push_back(file);
  }
  BlobWriter writer(folder, std::move(wanted));
  Captured result;
  if (!repository.stream(
          "cat-file --batch --buffer", objects, [&](std::string_view bytes) { writer.take(bytes); },
          &result))
    return false;
  std::string failure = writer.outcome();
  if (!failure.empty()) {
    report(failure);
    return false;
  }
  return true;
}

// Whether the regular file FOUND at PATH holds exactly the blob of FILE
// (its object name is the hash of those bytes) with the mode FILE has:
// executable for 100755, not for 100644.
bool holds_staged_content(const std::string &path, const platform::RegularFile &found,
                          const IndexFile &file) {
  if (!is_sha1_name(file.object) || found.executable != (file.mode == "100755"))
    return false;
  Sha1 hash;
  std::string header = "blob " + std::to_string(found.size);
  hash.add(header.c_str(), header.size() + 1);
  return platform::read_regular_file(
             path.c_str(), found.size,
             [&hash](const char *bytes, std::size_t count) { hash.add(bytes, count); }) &&
         hash.hex() == file.object;
}

} // namespace

void examine_files(const std::vector<const IndexFile *> &files, std::vector<char> *in_place,
                   std::uint64_t *bytes) {
  // Hashing reads every file the work tree may hold: spread over the cores.
  struct Examination {
    const std::vector<const IndexFile *> *files;
    std::vector<char> *in_place;
    std::vector<std::uint64_t> bytes;
  } job{&files, in_place, std::vector<std::uint64_t>(files.size())};
  in_place->assign(files.size(), 0);
  for_each_slice(files.size(), 64, [&job](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const IndexFile &file = *(*job.files)[i];
      std::optional<platform::RegularFile> found = platform::regular_file(file.path.c_str());
      (*job.in_place)[i] = !file.differs && found && holds_staged_content(file.path, *found, file);
      job.bytes[i] = (found ? found->size : 1u << 20) * ((*job.in_place)[i] ? 1 : 2);
    }
  });
  *bytes = 0;
  for (std::uint64_t size : job.bytes)
    *bytes += size;
}

bool place_files(const Repository &repository, const std::vector<const IndexFile *> &files,
                 const std::vector<char> &in_place, PrivateFolder *folder,
                 std::vector<std::string> *sources) {
  std::vector<const IndexFile *> exported;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!in_place[i])
      exported.push_back(files[i]);
  }
  if (!exported.empty() && !export_blobs(repository, exported, folder))
    return false;
  std::string copies = folder->path() + "/index/";
  std::replace(copies.begin(), copies.end(), '/', '\\');
  for (std::size_t i = 0; i < files.size(); ++i)
    sources->push_back(source_path(in_place[i] ? "" : copies, files[i]->path));
  return true;
}

} // namespace tvkgit
