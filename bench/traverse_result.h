#pragma once
// A traverse result of the inline measurement (32 positions x 3 kinds x 125 points) as the line
// exports it, and the scan file the cycle must make of it: the input of the import figures.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scan_record/scan_data.h"

namespace kelvad::bench {

inline constexpr int positions = 32;
inline constexpr int kinds = 3;
inline constexpr int points = 125;

inline std::string crlf_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

// One traverse result and the scan file the cycle must make of it. The values are written
// in the two number forms the measurement system uses and held as the float they read back as.
struct traverse {
    std::string scan_name;
    std::string csv;
    std::string scan_bytes;
};

inline traverse make_traverse(int number) {
    traverse t;
    char name[32];
    std::snprintf(name, sizeof name, "TRV_%05d", number);
    t.scan_name = name;

    kelvad::scan_data record;
    record.set_dimensions(positions, kinds, points);
    for (int k = 0; k < kinds; ++k) {
        record.first_wavelengths[k] = 380.0f;
        record.last_wavelengths[k] = 380.0f + 5.0f * (points - 1);
        record.kind_point_counts[k] = points;
    }
    std::vector<std::string> lines = {"Inline traverse export", "Line;3",
                                      "Stamp;" + t.scan_name + ";2026-12-09 08:15:00"};
    for (int p = 0; p < positions; ++p) {
        record.positions[p] = -155 + 10 * p;
        lines.push_back(std::to_string(p + 1) + ";" + (p == 0 ? t.scan_name : "") + ";" +
                        std::to_string(p) + ";" + std::to_string(record.positions[p]));
    }
    lines.push_back("Positions done;;;");
    std::uint32_t seed = 2166136261u ^ static_cast<std::uint32_t>(number);
    for (int k = 0; k < kinds; ++k) {
        lines.push_back("Spectrum;" + std::to_string(k));
        for (int p = 0; p < positions; ++p) {
            std::string line;
            for (int i = 0; i < points; ++i) {
                seed = seed * 1664525u + 1013904223u;
                const double v = (seed >> 8) % 12000 / 10000.0;
                char field[32];
                std::snprintf(field, sizeof field, (i % 2) ? "%.4f" : "%.3E", v);
                float value = 0;
                std::from_chars(field, field + std::char_traits<char>::length(field), value);
                record.values[record.value_index(p, k, i)] = value;
                line += field;
                line += ';';
            }
            lines.push_back(line);
        }
    }
    t.csv = crlf_lines(lines);
    t.scan_bytes = record.scan_file_bytes();
    return t;
}

}  // namespace kelvad::bench
