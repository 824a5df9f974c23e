#pragma once
// A main window on the headless toolkit over a private ORVEL tree and transfer folder:
//   <root>/in                                   transfer folder
//   <root>/orvel/database/current_product/Production
//   <root>/orvel/database/products/Production/measurements/BE/new
//   <root>/orvel/archive

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/calendar.h"
#include "foundation/file_utils.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"
#include "support/sandbox.h"
#include "ui/headless/headless_toolkit.h"

namespace kelvad {

class orvel_fixture : public ::testing::Test {
  protected:
    static constexpr char sep = platform::path_separator;

    void SetUp() override {
        orvel = box.path({"orvel"}) + sep;
        input = box.path({"in"});
        testing::make_folders(input);
        testing::make_folders(box.path({"orvel", "archive"}));
        set_marker("Production");
        testing::make_folders(measurement_folder("Production", "BE"));
        config.write("orvel_path.ini", testing::crlf_lines({box.path({"orvel"})}));
        write_scanner_ini("125");
    }

    void TearDown() override { testing::remove_tree(user_data_path("")); }

    void write_scanner_ini(const std::string& points, const std::string& minimum_age = "0") {
        config.write("orvel_scanner.ini", testing::crlf_lines({input, "BE", "", "1", points, "", "",
                                                               "", "", minimum_age, "", "true"}));
    }

    std::string measurement_folder(const std::string& product, const std::string& be) const {
        return box.path({"orvel", "database", "products", product, "measurements", be, "new"});
    }

    void set_marker(const std::string& product) {
        const std::string folder = box.path({"orvel", "database", "current_product"});
        testing::remove_tree(folder);
        testing::make_folders(folder);
        testing::write_file(folder + sep + product, "");
    }

    std::vector<std::string> markers() const {
        return testing::files_in(box.path({"orvel", "database", "current_product"}));
    }

    Tkelvad_main& start() {
        window = std::make_unique<Tkelvad_main>(tk);
        window->run_handler([this] { window->FormCreate(); });
        return *window;
    }

    // Puts a result file into the transfer folder, old enough to be taken.
    std::string drop(const std::string& name, std::string_view bytes) {
        const std::string path = input + sep + name;
        testing::write_file(path, bytes);
        testing::age_file(path, 10);
        return path;
    }

    void tick() { window->fire(window->Timer1); }

    // The files of the transfer folder but the scanner's lock file.
    std::vector<std::string> input_files() const {
        std::vector<std::string> names = testing::files_in(input);
        std::erase(names, std::string(transfer_lock_file_name));
        return names;
    }

    std::vector<std::string> box_texts() const {
        std::vector<std::string> texts;
        for (const auto& b : tk.boxes) texts.push_back(b.text);
        return texts;
    }

    // The message list without the device map lines of the start-up.
    const auto& messages() const { return window->Message_board.lines(); }
    std::vector<std::string> message_list() const { return {messages().begin(), messages().end()}; }

    bool has_message(const std::string& line) const {
        for (const auto& m : messages())
            if (m == line) return true;
        return false;
    }

    bool has_message_starting(const std::string& prefix) const {
        for (const auto& m : messages())
            if (m.rfind(prefix, 0) == 0) return true;
        return false;
    }

    // A traverse result of `positions` positions and `points` values per spectrum line;
    // value p*1000 + kind*100 + k at position p, kind, point k.
    static std::string traverse(int positions, int points, const std::string& name = "TRV_7") {
        std::string text = "header\r\nStamp;" + name + ";now\r\n";
        for (int p = 0; p < positions; ++p)
            text += std::to_string(p + 1) + ";" + (p == 0 ? name : "") + ";" + std::to_string(p) +
                    ";" + std::to_string(10 * p - 5) + "\r\n";
        text += "Positions done;;;\r\n";
        for (int kind = 0; kind < 3; ++kind) {
            text += "Spectrum;" + std::to_string(kind) + "\r\n";
            for (int p = 0; p < positions; ++p) {
                for (int k = 0; k < points; ++k)
                    text += std::to_string(p * 1000 + kind * 100 + k) + ".5;";
                text += "\r\n";
            }
        }
        return text + ";\r\n";
    }

    std::string scan_file(const std::string& name) const {
        return measurement_folder("Production", "BE") + sep + name + ".scn";
    }

    std::string archive_folder(const std::string& product = "Production") const {
        const civil_time today = civil_time_of(platform::local_now_ms());
        return box.path({"orvel", "archive", product, std::to_string(today.year),
                         std::to_string(today.month), std::to_string(today.day), "BE"});
    }

    std::string failed_folder() const { return input + sep + "failed"; }

    static std::string sample(const std::string& name) {
        return testing::read_file(std::string(KELVAD_SAMPLES_DIR) + "/" + name);
    }

    testing::sandbox box;
    testing::program_folder config;
    ui::headless_toolkit tk;
    std::unique_ptr<Tkelvad_main> window;
    std::string orvel;
    std::string input;
};

}  // namespace kelvad
