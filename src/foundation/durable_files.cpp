#include "foundation/durable_files.h"

#include <charconv>

#include "foundation/file_utils.h"
#include "foundation/text.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

constexpr std::string_view temp_prefix = "~kelvad-";
constexpr std::string_view temp_suffix = ".tmp";
// After the original name: a suffix whose own extension does not begin with the result
// files' one, so that no short-name match of "*.csv" takes the file for a result.
constexpr std::string_view free_test_suffix = ".kelvad-free";
constexpr std::int64_t stranded_after_ns = 30'000'000'000;

std::string folder_of(const std::string& path) {
    const auto cut = path.find_last_of(platform::path_separator);
    if (cut == std::string::npos) return ".";
    if (cut == 0) return path.substr(0, 1);
    return path.substr(0, cut);
}

std::string file_name_part(const std::string& path) {
    const auto cut = path.find_last_of(platform::path_separator);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The size that reached the disk, then the rename to the final name.
placement rename_into_place(placement result, const std::string& target, std::uint64_t size,
                            bool replace) {
    const auto fail = [&](placement_step step, std::string reason) {
        platform::delete_file(result.temporary);
        result.failed_step = step;
        result.reason = std::move(reason);
        return result;
    };
    const std::optional<platform::file_stamp> written = platform::stamp_of(result.temporary);
    if (!written || written->size != size)
        return fail(placement_step::size_check, "the temporary file holds " +
                                                    std::to_string(written ? written->size : 0) +
                                                    " of " + std::to_string(size) + " bytes");
    const bool renamed = replace ? platform::replace_file(result.temporary, target)
                                 : platform::rename_no_replace(result.temporary, target);
    if (!renamed) {
        const platform::os_error error = platform::last_error();
        // Only an existing file of the final name counts as taken; anything else is a fault.
        result.name_taken = !replace && error.name_taken;
        return fail(placement_step::rename, error.text);
    }
    result.placed = true;
    return result;
}

}  // namespace

placement put_in_place(const std::string& target, std::string_view bytes, bool replace) {
    placement result;
    result.temporary = own_temp_name(folder_of(target));
    if (!platform::write_new_file_durable(result.temporary, bytes)) {
        result.failed_step = placement_step::temporary_file;
        result.reason = platform::last_error().text;
        platform::delete_file(result.temporary);
        return result;
    }
    result = rename_into_place(std::move(result), target, bytes.size(), replace);
    if (result.placed && !platform::flush_folder(folder_of(target))) {
        // The file is complete under its final name; only its lasting through a power loss
        // is in doubt. Said, but the data is where it belongs.
        result.failed_step = placement_step::folder_flush;
        result.reason = platform::last_error().text;
    }
    return result;
}

staged_output stage_output(const std::string& target, std::string_view bytes, bool replace) {
    staged_output output;
    output.target = target;
    output.temporary = own_temp_name(folder_of(target));
    output.size = bytes.size();
    output.replace = replace;
    output.written = platform::write_new_file(output.temporary, bytes);
    if (!output.written) {
        output.failed_step = placement_step::temporary_file;
        output.reason = platform::last_error().text;
    }
    return output;
}

void flush_staged(const std::vector<staged_output*>& outputs) {
    std::vector<std::string> temporaries;
    for (const staged_output* output : outputs)
        if (output->written) temporaries.push_back(output->temporary);
    if (temporaries.empty() || platform::flush_files(temporaries)) return;
    const std::string reason = platform::last_error().text;
    for (staged_output* output : outputs) {
        if (!output->written) continue;
        discard_staged(*output);
        output->failed_step = placement_step::flush;
        output->reason = reason;
    }
}

placement place_staged(staged_output& output) {
    placement result;
    result.temporary = output.temporary;
    if (!output.written) {
        result.failed_step = output.failed_step;
        result.reason = output.reason;
        return result;
    }
    output.written = false;  // the temporary name is gone either way
    return rename_into_place(std::move(result), output.target, output.size, output.replace);
}

void discard_staged(staged_output& output) {
    if (!output.written) return;
    platform::delete_file(output.temporary);
    output.written = false;
}

std::string folder_of_path(const std::string& path) {
    return folder_of(path);
}

bool move_durably(const std::string& from, const std::string& to, std::string* reason) {
    if (!platform::rename_no_replace(from, to)) {
        if (reason) *reason = platform::last_error().text;
        return false;
    }
    platform::flush_folder(folder_of(to));
    platform::flush_folder(folder_of(from));
    return true;
}

bool delete_durably(const std::string& path, std::string* reason) {
    if (!platform::delete_file(path)) {
        if (reason) *reason = platform::last_error().text;
        return false;
    }
    platform::flush_folder(folder_of(path));
    return true;
}

std::string own_temp_name(std::string_view folder) {
    const std::string random = random_temp_name("");  // "<sep>n_n_n.tmp"
    return with_trailing_separator(folder) + std::string(temp_prefix) +
           std::to_string(platform::process_id()) + "-" + random.substr(1);
}

std::optional<std::uint32_t> owner_of_temp_name(std::string_view name) {
    if (name.size() <= temp_prefix.size() + temp_suffix.size() ||
        name.substr(0, temp_prefix.size()) != temp_prefix ||
        name.substr(name.size() - temp_suffix.size()) != temp_suffix)
        return std::nullopt;
    name.remove_prefix(temp_prefix.size());
    std::uint32_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end == name.data() || *end != '-') return std::nullopt;
    return pid;
}

int remove_stranded_temp_files(const std::string& folder) {
    if (folder.empty() || !platform::folder_exists(folder)) return 0;
    int removed = 0;
    const std::string pattern =
        with_trailing_separator(folder) + std::string(temp_prefix) + "*" + std::string(temp_suffix);
    const std::int64_t now = platform::utc_now_ns();
    for (const std::string& name : platform::list_plain_files(pattern)) {
        const std::optional<std::uint32_t> owner = owner_of_temp_name(name);
        if (!owner) continue;
        if (*owner != platform::process_id() && platform::process_running(*owner)) continue;
        const std::string path = with_trailing_separator(folder) + name;
        const std::optional<platform::file_stamp> stamp = platform::stamp_of(path);
        if (!stamp || now - stamp->modified_ns < stranded_after_ns) continue;
        if (platform::delete_file(path)) ++removed;
    }
    return removed;
}

std::string free_test_name(const std::string& path) {
    const std::string name = file_name_part(path);
    const std::string folder = path.substr(0, path.size() - name.size());
    if (platform::name_fits(folder.empty() ? "." : folder, name + std::string(free_test_suffix)))
        return path + std::string(free_test_suffix);
    // A name too long for the suffix takes a random one; a crash then strands it unnamed.
    return folder.empty() ? random_temp_name("").substr(1) : random_temp_name(folder);
}

std::optional<std::string> original_of_free_test_name(std::string_view name) {
    if (name.size() <= free_test_suffix.size() ||
        name.substr(name.size() - free_test_suffix.size()) != free_test_suffix)
        return std::nullopt;
    return std::string(name.substr(0, name.size() - free_test_suffix.size()));
}

}  // namespace kelvad
