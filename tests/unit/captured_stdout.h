// A fixture that sends the test program's standard output to a scratch
// file while a test runs, for the messages the code under test prints there.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

class CapturedStdout : public testing::Test {
protected:
  void SetUp() override {
    std::fflush(stdout);
    file_ = std::tmpfile();
    ASSERT_NE(file_, nullptr);
    saved_ = dup(fileno(stdout));
    dup2(fileno(file_), fileno(stdout));
  }
  void TearDown() override {
    restore();
    if (file_ != nullptr)
      std::fclose(file_);
  }

  // Everything printed since the test began, each CR LF read as LF; from
  // here on standard output goes where it went before.
  std::string printed() {
    restore();
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) {
      if (c == '\n' && !text.empty() && text.back() == '\r')
        text.pop_back();
      text += static_cast<char>(c);
    }
    return text;
  }

private:
  void restore() {
    if (saved_ < 0)
      return;
    std::fflush(stdout);
    dup2(saved_, fileno(stdout));
    close(saved_);
    saved_ = -1;
  }

  std::FILE *file_ = nullptr;
  int saved_ = -1;
};
