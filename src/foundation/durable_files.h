#pragma once
// Putting a file in place so that its reader never meets it half-written and a power loss
// never leaves a name pointing at data that is not on the disk: written whole under a
// temporary name in the target's own folder (a name the analysis system does not take),
// checked for its full size, flushed, renamed to its final name, and the folder flushed.
// The program's own temporary names carry its process id, so that what a crash leaves behind
// can be told from the temporary files of a running program and removed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad {

enum class placement_step { none, temporary_file, size_check, flush, rename, folder_flush };

struct placement {
    bool placed = false;
    bool name_taken = false;  // only with replace off: a file of the final name is there
    placement_step failed_step = placement_step::none;
    std::string reason;     // the system's text for the failing step
    std::string temporary;  // the temporary name that was used (removed again on failure)
    explicit operator bool() const { return placed; }
};

// Writes `bytes` to `target` through a temporary file beside it. With `replace`, an earlier
// file (or a link) under the target's name is replaced, never followed; without, an existing
// name is left alone and reported as taken. On failure nothing new remains under either name.
placement put_in_place(const std::string& target, std::string_view bytes, bool replace);

// An output of a group whose data goes to the disk in one flush: written whole under its
// temporary name beside its target now, flushed with the others by flush_staged, then renamed
// by place_staged. The caller flushes each folder once after all the renames into it.
struct staged_output {
    std::string target;
    std::string temporary;
    std::uint64_t size = 0;
    bool replace = false;
    bool written = false;  // the temporary file is there and holds every byte
    placement_step failed_step = placement_step::none;
    std::string reason;  // why it was not written, or why its flush failed
};
staged_output stage_output(const std::string& target, std::string_view bytes, bool replace);
// Flushes the temporary files of all written outputs in one step; when that fails, each of
// them is failed with the reason and its temporary file removed.
void flush_staged(const std::vector<staged_output*>& outputs);
// Renames a staged output to its final name as put_in_place does, without the folder's flush;
// a failed output leaves nothing under either name.
placement place_staged(staged_output& output);
// Removes the temporary file of an output that will not be placed.
void discard_staged(staged_output& output);
// The folder part of a path (without the final separator).
std::string folder_of_path(const std::string& path);

// Moves a file into another folder of the same disk under a name that is not taken, flushing
// both folders; false with the system's reason when it cannot.
bool move_durably(const std::string& from, const std::string& to, std::string* reason = nullptr);
// Deletes a file and flushes its folder; false with the system's reason when it cannot.
bool delete_durably(const std::string& path, std::string* reason = nullptr);

// "<folder><sep>~kelvad-<pid>-<n>_<n>_<n>.tmp": a new temporary name of this process.
std::string own_temp_name(std::string_view folder);
// The process id in one of our temporary names (no folder part), or nothing.
std::optional<std::uint32_t> owner_of_temp_name(std::string_view name);
// Removes the program's temporary files in the folder that no running program owns and that
// are older than half a minute (a write in flight never is). Returns how many went.
int remove_stranded_temp_files(const std::string& folder);

// The name a file takes for the instant of its readiness test: the original name with a
// suffix, so that a file stranded by a crash can be given its name back.
std::string free_test_name(const std::string& path);
// The original name of a file left under its readiness-test name, or nothing.
std::optional<std::string> original_of_free_test_name(std::string_view name);

}  // namespace kelvad
