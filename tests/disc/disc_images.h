// Disc images made for tests from loose files: ISO images by xorriso, raw CD images (BIN) and
// compressed images (CSO) from those by small writers. Shared by the disc reader's tests and
// quarnel-cli's image tests.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace disc_images {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

inline Bytes read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void write_text(const fs::path& path, const std::string& text) {
    write_bytes(path, Bytes(text.begin(), text.end()));
}

inline Bytes text_bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Each 2048-byte sector wrapped into a 2352-byte one: sync, header (minute, second, frame, mode),
// for Mode 2 a Form 1 subheader, the data, and error codes left zero (nothing checks them).
inline Bytes raw_from_iso(const Bytes& iso, int mode) {
    Bytes out;
    const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    auto bcd = [](uint32_t v) { return uint8_t((v / 10) << 4 | v % 10); };
    for (size_t sector = 0; sector * 2048 < iso.size(); ++sector) {
        uint32_t frames = uint32_t(sector) + 150;
        out.insert(out.end(), sync, sync + 12);
        out.insert(out.end(),
                   {bcd(frames / 4500), bcd(frames / 75 % 60), bcd(frames % 75), uint8_t(mode)});
        if (mode == 2)
            out.insert(out.end(), {0, 0, 0x08, 0, 0, 0, 0x08, 0});
        out.insert(out.end(), iso.begin() + long(sector * 2048),
                   iso.begin() + long(sector * 2048 + 2048));
        out.insert(out.end(), mode == 1 ? 288 : 280, 0);
    }
    return out;
}

// A CSO image: "CISO", header size, total bytes, block size, version 1, alignment 0; an index of
// block starts (bit 31: stored plain) and one past the end; raw deflate blocks.
inline Bytes cso_from_iso(const Bytes& iso) {
    const uint32_t block = 2048;
    uint32_t blocks = uint32_t((iso.size() + block - 1) / block);
    Bytes header = {'C', 'I', 'S', 'O', 0x18, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        header.push_back(uint8_t(uint64_t(iso.size()) >> (8 * i)));
    header.insert(header.end(), {0, 8, 0, 0, 1, 0, 0, 0});
    std::vector<uint32_t> index;
    Bytes data;
    uint32_t at = uint32_t(header.size() + 4 * (blocks + 1));
    for (uint32_t i = 0; i < blocks; ++i) {
        const uint8_t* in = iso.data() + size_t(i) * block;
        uint32_t length = uint32_t(std::min<size_t>(block, iso.size() - size_t(i) * block));
        Bytes packed(compressBound(length) + 64);
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        stream.next_in = const_cast<uint8_t*>(in);
        stream.avail_in = length;
        stream.next_out = packed.data();
        stream.avail_out = uInt(packed.size());
        EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
        packed.resize(stream.total_out);
        deflateEnd(&stream);
        bool plain = packed.size() >= length;
        index.push_back(at | (plain ? 0x80000000u : 0));
        data.insert(data.end(), plain ? in : packed.data(),
                    plain ? in + length : packed.data() + packed.size());
        at += plain ? length : uint32_t(packed.size());
    }
    index.push_back(at);
    Bytes out = header;
    for (uint32_t entry : index)
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(entry >> (8 * i)));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The folder tree `files` (path in the image -> bytes) made into `work`/`name`.iso by the
// xorriso at `xorriso` with mkisofs `options`. Returns the image's bytes.
inline Bytes disc_images_make_iso(const char* xorriso, const fs::path& work,
                                  const std::string& name,
                                  const std::map<std::string, Bytes>& files,
                                  const std::string& options) {
    fs::path stage = work / ("stage_" + name);
    fs::remove_all(stage);
    for (const auto& [path, bytes] : files)
        write_bytes(stage / path, bytes);
    fs::path iso = work / (name + ".iso");
    std::string command = std::string(xorriso) + " -as mkisofs -quiet " + options + " -V GAME -o " +
                          iso.string() + " " + stage.string() + " 2>" +
                          (work / "xorriso.log").string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return read_bytes(iso);
}

} // namespace disc_images
