// The per-run staging folder under TEMP: creation, copies of the selected
// files at their version paths, WORKDIR, and removal.
#pragma once

#include <string>

#include "common/settings.h"
#include "patterns/patterns.h"

// Forms "<TEMP>\tvk<pid>.tmp" into g_settings.staging_folder and creates that
// one folder. False when it cannot be formed or created (also when it exists).
bool create_staging_folder();

// The staging folder path for TEMP and PROCESS_ID; false when TEMP is too
// long for the path to fit the staging-folder field.
bool form_staging_folder_path(const std::string &temp, int process_id, std::string *path);

// Copies the file of every selected version to its staged path; returns the
// number of copies made and marks each copy made. A selected version whose
// text leads outside the staging folder is refused. Failures are counted
// through log_error and stop the loop.
int stage_files(VersionTable &versions, const PatternList &include, const PatternList &exclude);

// True when VERSION has a ".." component (between backslashes or slashes, or
// at either end), so that its staged path would climb out of the staging
// folder.
bool leads_outside_staging_folder(const std::string &version);

// Makes sure PATH exists as a folder, creating missing ancestors first.
bool ensure_folder(const std::string &path);

// Puts WORKDIR, naming the staging folder, into the environment.
void set_workdir();

// Deletes the copies this run made, each only while it is still the file
// the copy made and never through a link, and removes the staging folder
// tree wherever it is empty.
void remove_staged_copies(const VersionTable &versions);

// Removes PATH and every sub-folder that is empty once its own sub-folders
// are gone. Never deletes a file and never follows a link.
bool remove_folder_tree(const std::string &path);
