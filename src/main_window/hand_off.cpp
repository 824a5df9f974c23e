// The hand-off of one result file: its archive copy, the deletion of the input once all that
// was made of it is on disk, the failed folder for what could not be converted without loss,
// once-only reports of files that wait or fail, the transfer folder's lock, and the clean-up
// of what a crash left behind.

#include <algorithm>

#include "foundation/calendar.h"
#include "foundation/durable_files.h"
#include "foundation/file_utils.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;

std::string without_trailing_separator(std::string folder) {
    while (folder.size() > 1 && folder.back() == sep) folder.pop_back();
    return folder;
}

}  // namespace

Tkelvad_main::file_watch& Tkelvad_main::watch_of_current_file() {
    if (watched_folder_ != input_path) forget_files_gone({});
    return watches_[current_file_name];
}

void Tkelvad_main::report_end_of_file() {
    report("_________________");
    report("");
}

void Tkelvad_main::report(const std::string& line) {
    if (completing_) {
        completing_->lines.push_back(line);
    } else if (converting_) {
        current_.lines.push_back(line);
    } else if (!in_hand_.empty()) {
        // Said between files whose lines wait: it keeps its place among them.
        if (!in_hand_.back().name.empty() || in_hand_.back().complete) in_hand_.emplace_back();
        in_hand_.back().lines.push_back(line);
    } else {
        Message_board.add(line);
    }
}

void Tkelvad_main::note_reason(file_watch& watch, const std::string& reason, bool delayed) {
    const std::int64_t now = platform::utc_now_ns();
    if (watch.reason != reason) {
        watch.reason = reason;
        watch.reason_since_ns = now;
        watch.reported = false;
    }
    if (watch.reported) return;
    if (delayed && now - watch.reason_since_ns < waiting_report_after_ms * 1'000'000) return;
    report(reason);
    watch.reported = true;
}

void Tkelvad_main::clear_reason(file_watch& watch, const std::string& path) {
    if (watch.reported) report("resolved: " + path);
    watch.reason.clear();
    watch.reported = false;
}

bool Tkelvad_main::claim_transfer_folder() {
    const std::string lock_path = input_path + transfer_lock_file_name;
    // A lock on a file that is gone (the folder was removed and made anew) guards nothing.
    if (serve_lock_.held() && serve_lock_.path() == lock_path && platform::stamp_of(lock_path))
        return true;
    serve_lock_ = platform::folder_lock();  // the folder changed: the old one is free again
    platform::folder_lock lock = platform::folder_lock::try_take(lock_path);
    const std::string folder = without_trailing_separator(input_path);
    switch (lock.status()) {
        case platform::folder_lock::state::held: {
            const bool took_over = another_scanner_serves;
            serve_lock_ = std::move(lock);
            another_scanner_serves = false;
            if (took_over) report("this Kelvad now serves " + folder);
            // The folder is ours: what an earlier scanner of it left behind can go.
            clean_up_after_crash();
            restore_stranded_free_tests();
            return true;
        }
        case platform::folder_lock::state::held_elsewhere: {
            const std::string text = "another Kelvad serves " + folder + " - this one waits";
            if (!another_scanner_serves || waiting_for_ != folder) report(text);
            another_scanner_serves = true;
            waiting_for_ = folder;
            action_label.set_text(text);
            return false;
        }
        case platform::folder_lock::state::failed:
            break;
    }
    // No lock file can be made (a folder this account may only read): scanning goes on, as it
    // cannot harm, but the operator hears of it once.
    if (lock_error_for_ != folder) {
        report("Error: lock file " + lock_path + " cannot be created - " +
               platform::last_error().text);
        lock_error_for_ = folder;
    }
    another_scanner_serves = false;
    return true;
}

void Tkelvad_main::restore_stranded_free_tests() {
    stranded_free_test_ = false;
    for (const std::string& name : platform::list_plain_files(input_path + "*.kelvad-free")) {
        const std::optional<std::string> original = original_of_free_test_name(name);
        if (!original) continue;
        const std::string from = input_path + name;
        const std::string to = input_path + *original;
        if (move_durably(from, to)) report("Restored " + to + " after an interrupted test");
    }
}

bool Tkelvad_main::retry_pending_step() {
    const std::string path = input_file_path();
    const auto found = watches_.find(current_file_name);
    if (found == watches_.end()) return false;
    file_watch& watch = found->second;
    if (watch.pending == file_watch::pending_step::none) return false;
    const std::optional<platform::file_stamp> stamp = platform::stamp_of(path);
    if (!stamp || !(*stamp == watch.pending_stamp)) {
        // A new file under the same name: it is taken as any other.
        watch.pending = file_watch::pending_step::none;
        return false;
    }
    if (watch.pending == file_watch::pending_step::delete_input) {
        if (!delete_durably(path)) return true;
        watch.pending = file_watch::pending_step::none;
        for (const std::string& line : watch.lines_after_delete) report(line);
        watch.lines_after_delete.clear();
    } else {
        std::string why;
        if (!try_move_to_failed(why)) return true;
        watch.pending = file_watch::pending_step::none;
    }
    clear_reason(watch, path);
    report_end_of_file();
    return true;
}

std::optional<std::size_t> Tkelvad_main::stage_archive_copy() {
    const std::string archive_root = orvel_path + "archive";
    if (!platform::folder_exists(archive_root)) return std::nullopt;
    const auto descend = [this](const std::string& level) {
        archive_path += sep + level;
        if (!ensure_folder(archive_path))
            action_label.set_text(archive_path + " could not be created!");
    };
    const civil_time today = civil_time_of(platform::local_now_ms());
    const std::string levels[] = {current_product, std::to_string(today.year),
                                  std::to_string(today.month), std::to_string(today.day), be_name};
    archive_path = archive_root;
    for (const std::string& level : levels) archive_path += sep + level;
    // The day's folder is there after its first file: one look instead of one per level.
    if (!platform::folder_exists(archive_path)) {
        archive_path = archive_root;
        for (const std::string& level : levels) descend(level);
    }
    // The copy is made of the bytes that were converted, so the archive holds what the scan
    // file was made from.
    return stage(archive_path + sep + current_file_name, input_bytes_, false);
}

bool Tkelvad_main::place_archive_copy(std::size_t output, const std::string& scan_file) {
    const std::string target = completing_->outputs[output].target;
    const placement placed = place_output(output);
    if (placed) return true;
    if (placed.name_taken) {
        // The same file archived earlier today: its data is there already.
        action_label.set_text("Error renaming file " + placed.temporary + " to " + target);
        return true;
    }
    // Without its archive copy the input is the only copy of the measurement: it is kept.
    move_to_failed("Error: the archive copy " + target + " failed - " + placed.reason +
                   (scan_file.empty() ? std::string(" - no scan file was written")
                                      : " - the scan file " + scan_file + " was written"));
    return false;
}

void Tkelvad_main::finish_input(std::vector<std::string> success_lines) {
    current_.success = std::move(success_lines);
}

std::size_t Tkelvad_main::stage(const std::string& target, std::string_view bytes, bool replace) {
    current_.outputs.push_back(stage_output(target, bytes, replace));
    return current_.outputs.size() - 1;
}

placement Tkelvad_main::place_output(std::size_t output) {
    staged_output& staged = completing_->outputs[output];
    const placement placed = place_staged(staged);
    if (placed) placed_folders_.push_back(folder_of_path(staged.target));
    return placed;
}

void Tkelvad_main::complete_hand_offs() {
    if (in_hand_.empty()) return;
    std::vector<file_in_hand> files = std::move(in_hand_);
    in_hand_.clear();
    const std::string taken_name = current_file_name;

    // The data of every output first, in one flush; then the names.
    std::vector<staged_output*> outputs;
    for (file_in_hand& file : files)
        for (staged_output& output : file.outputs) outputs.push_back(&output);
    flush_staged(outputs);
    placed_folders_.clear();
    for (file_in_hand& file : files) complete_one(file);
    std::sort(placed_folders_.begin(), placed_folders_.end());
    placed_folders_.erase(std::unique(placed_folders_.begin(), placed_folders_.end()),
                          placed_folders_.end());
    for (const std::string& folder : placed_folders_) platform::flush_folder(folder);

    // Only now that all that was made of them is on the disk do the inputs go.
    bool deleted_any = false;
    for (file_in_hand& file : files) {
        if (!file.success) continue;
        delete_input_of(file);
        deleted_any = deleted_any || file.deleted;
    }
    if (deleted_any) platform::flush_folder(without_trailing_separator(input_path));
    // The lines of the whole group go to the list and the log in one step.
    std::vector<std::string> lines;
    for (file_in_hand& file : files) lines_of(file, lines);
    Message_board.add_lines(std::move(lines));
    current_file_name = taken_name;
}

void Tkelvad_main::complete_one(file_in_hand& file) {
    if (!file.complete) return;
    current_file_name = file.name;
    completing_ = &file;
    try {
        file.success = file.complete();
    } catch (const std::exception& error) {
        file.success.reset();
        move_to_failed("Error: " + file.name + " could not be converted - " + error.what());
    }
    for (staged_output& output : file.outputs) discard_staged(output);
    completing_ = nullptr;
}

void Tkelvad_main::delete_input_of(file_in_hand& file) {
    current_file_name = file.name;
    completing_ = &file;
    const std::string path = input_file_path();
    const bool removed = platform::delete_file(path);
    const std::string why = removed ? std::string() : platform::last_error().text;
    const std::optional<platform::file_stamp> stamp =
        removed ? std::nullopt : platform::stamp_of(path);
    if (!stamp) {
        file.deleted = true;
    } else {
        // Converted but still there: it must not be converted a second time, only deleted.
        file_watch& watch = watch_of_current_file();
        watch.pending = file_watch::pending_step::delete_input;
        watch.pending_stamp = *stamp;
        watch.lines_after_delete = std::move(*file.success);
        note_reason(watch,
                    "Error: " + path + " cannot be deleted - " + why +
                        " - its data is converted; it is only deleted, not converted again",
                    false);
    }
    completing_ = nullptr;
}

void Tkelvad_main::lines_of(file_in_hand& file, std::vector<std::string>& lines) {
    for (std::string& line : file.lines) lines.push_back(std::move(line));
    if (file.deleted)
        for (std::string& line : *file.success) lines.push_back(std::move(line));
    // The message list keeps its last 1000 lines by itself, however the lines come.
    if (!file.name.empty()) {
        lines.push_back("_________________");
        lines.push_back("");
    }
}

void Tkelvad_main::show_file_box(const std::string& text) {
    // The files before this one are handed off, and its own lines said, before a box that
    // may stand for a minute.
    const std::string taken_name = current_file_name;
    {
        const bool converting = converting_;
        converting_ = false;
        complete_hand_offs();
        converting_ = converting;
    }
    current_file_name = taken_name;
    for (const std::string& line : current_.lines) Message_board.add(line);
    current_.lines.clear();
    show_file_message(text);
}

bool Tkelvad_main::try_move_to_failed(std::string& why) {
    const std::string failed_folder = input_path + "failed";
    const std::string source = input_file_path();
    if (!ensure_folder(failed_folder)) {
        why = platform::last_error().text;
        if (why.empty()) why = failed_folder + " is no folder";
        return false;
    }
    // Never replace an earlier file of the same name: a random prefix makes the name unique.
    std::string target = join_path(failed_folder, current_file_name);
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (move_durably(source, target, &why)) {
            report("Input file moved to " + target);
            ++health.failed;
            return true;
        }
        if (!platform::last_error().name_taken && !platform::stamp_of(target)) return false;
        const std::string prefix = random_temp_name("");
        target = join_path(failed_folder,
                           prefix.substr(1, prefix.find('_') - 1) + "_" + current_file_name);
    }
    return false;
}

void Tkelvad_main::move_to_failed(const std::string& reason) {
    report(reason);
    const std::string source = input_file_path();
    const std::optional<platform::file_stamp> stamp = platform::stamp_of(source);
    if (!stamp) return;  // gone already
    std::string why;
    if (try_move_to_failed(why)) return;
    file_watch& watch = watch_of_current_file();
    watch.pending = file_watch::pending_step::move_to_failed;
    watch.pending_stamp = *stamp;
    note_reason(watch, "Error: " + source + " cannot be moved to failed - " + why, false);
}

void Tkelvad_main::clean_up_after_crash() {
    if (input_path.size() > 1 && platform::folder_exists(input_path)) {
        remove_stranded_temp_files(input_path);
        remove_stranded_temp_files(input_path + "failed");
    }
    // The folders the imports write into: every measurement of the current product, today's
    // archive folder, the alive signals and the configuration beside the program.
    const std::string measurements =
        orvel_path + "database" + sep + "products" + sep + current_product + sep + "measurements";
    for (const auto& entry : platform::find_entries(measurements + sep + "*")) {
        if (!(entry.attributes & platform::attribute::directory) || entry.name == "." ||
            entry.name == "..")
            continue;
        remove_stranded_temp_files(measurements + sep + entry.name + sep + "new");
    }
    const civil_time today = civil_time_of(platform::local_now_ms());
    remove_stranded_temp_files(orvel_path + "archive" + sep + current_product + sep +
                               std::to_string(today.year) + sep + std::to_string(today.month) +
                               sep + std::to_string(today.day) + sep + be_name);
    remove_stranded_temp_files(orvel_path + "live_signals");
    remove_stranded_temp_files(program_file_path(""));
}

}  // namespace kelvad
