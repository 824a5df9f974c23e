// The main window's start-up, scan record, output folders and product switch.

#include "orvel_fixture.h"

namespace kelvad {
namespace {

class main_window_setup : public orvel_fixture {};

TEST_F(main_window_setup, device_map_is_listed_at_the_top_of_the_message_list) {
    testing::write_file(user_data_path("device_map.bin"), sample("device_map_new.bin"));
    Tkelvad_main& w = start();
    const std::vector<std::string> expected = {"Device map", "3   NGQ_A", "5   NGQ_B",
                                               "12   " + std::string(300, 'L'), ""};
    EXPECT_EQ(message_list(), expected);
    EXPECT_EQ(w.device_map->translate("5", 1), "NGQ_B");
    EXPECT_TRUE(w.startup_complete());
}

TEST_F(main_window_setup, without_device_map_nothing_is_listed_and_numbers_stand_for_themselves) {
    Tkelvad_main& w = start();
    EXPECT_TRUE(w.Message_board.lines().empty());
    EXPECT_EQ(w.device_map->translate("3", 1), "3");
}

TEST_F(main_window_setup, scan_record_has_the_traverse_shape) {
    for (const auto& [points, last] : {std::pair{"125", 1000.0f}, std::pair{"100", 875.0f}}) {
        SCOPED_TRACE(points);
        write_scanner_ini(points);
        const scan_data& record = *start().sc_data;
        EXPECT_EQ(record.position_count, 32);
        EXPECT_EQ(record.kind_count, 3);
        EXPECT_EQ(record.point_count, std::stoi(points));
        EXPECT_EQ(record.first_wavelengths, std::vector<float>(3, 380.0f));
        EXPECT_EQ(record.last_wavelengths, std::vector<float>(3, last));
        EXPECT_EQ(record.kind_point_counts, std::vector<std::int32_t>(3, std::stoi(points)));
    }
}

TEST_F(main_window_setup, composition_follows_editors_and_marker) {
    Tkelvad_main& w = start();
    EXPECT_EQ(w.input_path, input + sep);
    EXPECT_EQ(w.current_product, "Production");
    EXPECT_EQ(w.product_label.text(), "Production");
    EXPECT_EQ(w.total_output_path, measurement_folder("Production", "BE"));
    EXPECT_EQ(w.total_output_path_label.text(), w.total_output_path);

    set_marker("Production.txt");
    w.input_path_editor.text_changed_by_user("");
    w.output_path_editor.text_changed_by_user("NGQ_A");
    w.compose_total_output_path();
    EXPECT_EQ(w.input_path, std::string(1, sep));
    EXPECT_EQ(w.current_product, "Production.txt");
    EXPECT_EQ(w.total_output_path, measurement_folder("Production.txt", "NGQ_A"));

    testing::remove_tree(box.path({"orvel", "database", "current_product"}));
    w.compose_total_output_path();
    EXPECT_EQ(w.current_product, "");
    EXPECT_EQ(w.total_output_path, orvel + "database" + sep + "products" + sep + sep +
                                       "measurements" + sep + "NGQ_A" + sep + "new");
}

TEST_F(main_window_setup, output_path_names_the_measurement_under_the_current_product) {
    Tkelvad_main& w = start();
    set_marker("Other");
    EXPECT_EQ(w.output_path("NGQ_A"), measurement_folder("Other", "NGQ_A"));
    EXPECT_EQ(w.current_product, "Other");
    EXPECT_EQ(w.product_label.text(), "Production");  // labels follow only a composition
}

TEST_F(main_window_setup, base_product_name_drops_maintenance_and_postbake) {
    const std::pair<const char*, const char*> cases[] = {
        {"Production maintenance", "Production"},
        {"Production postbake", "Production"},
        {"SiO2 production postbake", "SiO2 production"},
        {"Production Maintenance", "Production Maintenance"},
        {"A maintenance B postbake", "A maintenance B"},
        {"maintenance", ""},
        {"Production", "Production"},
    };
    for (const auto& [product, base] : cases) {
        SCOPED_TRACE(product);
        EXPECT_EQ(Tkelvad_main::base_product_name(product), base);
    }
}

TEST_F(main_window_setup, restore_base_product_renames_the_marker) {
    set_marker("Production maintenance");
    Tkelvad_main& w = start();
    EXPECT_EQ(w.current_product, "Production maintenance");
    w.restore_base_product();
    EXPECT_EQ(markers(), std::vector<std::string>{"Production"});
    EXPECT_EQ(w.current_product, "Production");
    EXPECT_EQ(w.total_output_path, measurement_folder("Production", "BE"));

    w.restore_base_product();  // already the base product: nothing to rename
    EXPECT_EQ(markers(), std::vector<std::string>{"Production"});

    set_marker("maintenance only");
    w.compose_total_output_path();
    w.restore_base_product();  // an empty base product cannot be a marker: it stays
    EXPECT_EQ(markers(), std::vector<std::string>{"maintenance only"});
    EXPECT_EQ(w.current_product, "maintenance only");
}

TEST_F(main_window_setup, first_marker_in_listing_order_is_the_product) {
    const std::string folder = box.path({"orvel", "database", "current_product"});
    testing::write_file(folder + sep + "Another", "");
    testing::make_folders(folder + sep + "A folder");
    Tkelvad_main& w = start();
    std::int32_t count = 0;
    EXPECT_EQ(w.current_product, first_file(folder, "*.*", count));
    EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace kelvad
