// What the command says outside a run's report: help, version, the
// information text and usage mistakes, and how names are shown.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job.h"

namespace brevlo::cli {

void print_help();
void print_version();
// Prints the library's information text; returns the exit status.
int print_info();
// Prints "brevlo: <error>" and a hint to --help on stderr.
void print_usage_error(const std::string& error);
// Prints "brevlo: <message>" on stderr.
void print_command_error(const std::string& message);

// Writes out standard output; when anything written there was lost (a full
// device, a closed pipe), says so on stderr and returns 1, else status.
int finish_standard_output(int status);

// Words with each {name} replaced by its filling; the names are the words' own.
using Fillings = std::vector<std::pair<std::string_view, std::string>>;
std::string filled(std::string_view words, const Fillings& fillings);

// A file name as shown in messages: control characters escaped (\n, \t,
// \x1b ...) so that no name can move the cursor or colour the terminal.
std::string shown_name(const std::string& name);

// Where a job's BMP goes, as shown in messages; for a --frames job, its frame
// files as a pattern, NAME-*.bmp.
std::string shown_output(const Job& job);

}  // namespace brevlo::cli
