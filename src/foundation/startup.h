#pragma once
// Process start-up and shut-down of the shared foundations, and the workbook options.

#include <functional>
#include <string>

namespace kelvad {

extern bool never_use_workbook;
extern bool ask_for_workbook;

// Asks a Yes/No question with a caption; true for Yes. The toolkit supplies it.
using yes_no_question = std::function<bool(const std::string& text, const std::string& caption)>;

// Runs once per process before the window exists; a second call does nothing.
void process_startup(const yes_no_question& ask);
// Runs once at process exit.
void process_shutdown();

bool find_workbook_ini(std::string& path);
void read_workbook_options(const yes_no_question& ask);

}  // namespace kelvad
