// The copies' system calls made one by one, as the POSIX copy makes them,
// against the same work handed to io_uring in linked chains (open both
// files into fixed slots, the copy's inode, read, write, close both), 64
// files a submission. Not part of the build: it needs liburing (Debian's
// liburing-dev), which the gate does not use.
//
//   cc -O2 -o uring_copy bench/uring_copy.c -luring
//   uring_copy LIST SOURCE-ROOT DESTINATION-ROOT calls|uring
//
// LIST holds one path below SOURCE-ROOT per line; the folders below
// DESTINATION-ROOT are made before the clock starts, the copies must not
// exist yet. Files of 4 MiB and more are cut short by the uring variant.
#define _GNU_SOURCE
#include <fcntl.h>
#include <liburing.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFiles = 100000, kBatch = 64, kBuffer = 1 << 22 };

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static char *names[kMaxFiles];
static long sizes[kMaxFiles];

static void copy_by_calls(int count, const char *from, const char *to) {
  char source[8192], destination[8192];
  for (int i = 0; i < count; i++) {
    snprintf(source, sizeof source, "%s/%s", from, names[i]);
    snprintf(destination, sizeof destination, "%s/%s", to, names[i]);
    int in = open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat status, created;
    fstat(in, &status);
    int out = open(destination, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   status.st_mode & 0777);
    fstat(out, &created);
    copy_file_range(in, NULL, out, NULL, status.st_size > 65536 ? status.st_size : 65536, 0);
    close(out);
    close(in);
  }
}

static int copy_by_uring(int count, const char *from, const char *to) {
  static char sources[kBatch][4096], destinations[kBatch][4096];
  static struct statx created[kBatch];
  struct io_uring ring;
  if (io_uring_queue_init(kBatch * 8, &ring, 0) != 0 ||
      io_uring_register_files_sparse(&ring, kBatch * 2) != 0) {
    perror("io_uring");
    return 1;
  }
  char *buffers[kBatch];
  for (int k = 0; k < kBatch; k++)
    buffers[k] = malloc(kBuffer);
  for (int first = 0; first < count; first += kBatch) {
    int files = count - first < kBatch ? count - first : kBatch, entries = 0;
    for (int k = 0; k < files; k++) {
      int i = first + k;
      unsigned size = (unsigned)(sizes[i] < kBuffer ? sizes[i] : kBuffer - 1);
      snprintf(sources[k], 4096, "%s/%s", from, names[i]);
      snprintf(destinations[k], 4096, "%s/%s", to, names[i]);
      struct io_uring_sqe *e = io_uring_get_sqe(&ring);
      io_uring_prep_openat_direct(e, AT_FDCWD, sources[k], O_RDONLY | O_NONBLOCK, 0, 2 * k);
      e->flags |= IOSQE_IO_LINK;
      e = io_uring_get_sqe(&ring);
      io_uring_prep_openat_direct(e, AT_FDCWD, destinations[k],
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644, 2 * k + 1);
      e->flags |= IOSQE_IO_LINK;
      e = io_uring_get_sqe(&ring);
      io_uring_prep_statx(e, AT_FDCWD, destinations[k], AT_SYMLINK_NOFOLLOW, STATX_INO,
                          &created[k]);
      e->flags |= IOSQE_IO_LINK;
      // A short read would cancel the rest of the chain: exactly the size.
      e = io_uring_get_sqe(&ring);
      io_uring_prep_read(e, 2 * k, buffers[k], size, 0);
      e->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
      e = io_uring_get_sqe(&ring);
      io_uring_prep_write(e, 2 * k + 1, buffers[k], size, 0);
      e->flags |= IOSQE_FIXED_FILE | IOSQE_IO_LINK;
      e = io_uring_get_sqe(&ring);
      io_uring_prep_close_direct(e, 2 * k);
      e->flags |= IOSQE_IO_LINK;
      e = io_uring_get_sqe(&ring);
      io_uring_prep_close_direct(e, 2 * k + 1);
      entries += 7;
    }
    io_uring_submit_and_wait(&ring, entries);
    for (int done = 0; done < entries; done++) {
      struct io_uring_cqe *completion;
      io_uring_wait_cqe(&ring, &completion);
      if (completion->res < 0)
        fprintf(stderr, "a step failed: %s\n", strerror(-completion->res));
      io_uring_cqe_seen(&ring, completion);
    }
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc != 5)
    return 2;
  FILE *list = fopen(argv[1], "r");
  char line[4096], path[8192];
  int count = 0;
  while (list != NULL && count < kMaxFiles && fgets(line, sizeof line, list)) {
    line[strcspn(line, "\n")] = 0;
    names[count] = strdup(line);
    snprintf(path, sizeof path, "%s/%s", argv[2], line);
    struct stat status;
    sizes[count++] = stat(path, &status) == 0 ? status.st_size : 0;
    snprintf(path, sizeof path, "%s/%s", argv[3], line);
    for (char *slash = strchr(path + strlen(argv[3]) + 1, '/'); slash;
         slash = strchr(slash + 1, '/')) {
      *slash = 0;
      mkdir(path, 0700);
      *slash = '/';
    }
  }
  double start = now();
  int failed = strcmp(argv[4], "uring") == 0 ? copy_by_uring(count, argv[2], argv[3])
                                             : (copy_by_calls(count, argv[2], argv[3]), 0);
  printf("%s: %d files in %.1f ms\n", argv[4], count, (now() - start) * 1000);
  return failed;
}
