// Process-wide settings of one run, and the records shared by the phases.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct RunSettings {
  bool stdout_is_error = false;  // -o
  bool stderr_is_error = false;  // -e
  bool strip = false;            // -s
  bool dump = false;             // -d
  bool case_insensitive = false; // -c
  std::int32_t debug_level = 0;  // one per -b
  std::int32_t error_count = 0;  // raised by log_error and ambiguity reports
  FILE *input_file = nullptr;    // -i, open while the input is read
};

extern RunSettings g_settings;

// One version line of the input.
struct VersionEntry {
  std::string version;
  std::optional<std::string> matched_file; // set by reconciliation
  std::optional<std::string> staged_path;  // set by the staging loop
};

using VersionTable = std::vector<VersionEntry>;
using FileList = std::vector<std::string>;
