#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>

// Collects everything pugixml prints into one byte string (UTF-8 with automatic encoding).
struct xml_string_writer : pugi::xml_writer {
    std::string result;

    void write(const void* data, std::size_t size) override {
        result.append(static_cast<const char*>(data), size);
    }
};
