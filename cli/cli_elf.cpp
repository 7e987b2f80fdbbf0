#include "cli/cli_elf.h"

#include <cstdlib>

#include "cli/cli_report.h"
#include "core/disc_image.h"
#include "core/executable_file.h"
#include "core/pnach_file.h"
#include "core/search_rules.h"

namespace {

// Reads a disc image's boot executable into memory and checks it as an ELF image.
int image_open(const char* path, CliElf* elf, std::string* problem) {
    ExecutableFile file;
    std::string message;
    ExecutableFileStatus status = executable_file_read(path, &file, &message);
    if (status != EXECUTABLE_FILE_OK) {
        *problem = cli_report_file_text(
            path, message.empty() ? "Error reading file" : message.c_str(), nullptr);
        return 0;
    }
    elf->owned = file.data;
    elf->boot = executable_file_base_name(file.boot.path_in_image);
    elf->serial =
        file.boot.serial.empty() ? pnach_serial_from_name(elf->boot.c_str()) : file.boot.serial;
    ElfStatus parsed = elf_image_parse(elf->owned, file.size, &elf->image);
    if (parsed != ELF_OK) {
        *problem = cli_report_file_text(path, MSG_INVALID_ELF,
                                        (elf->boot + ": " + elf_status_text(parsed)).c_str());
        return 0;
    }
    return 1;
}

} // namespace

int cli_elf_open(const char* path, CliElf* elf, std::string* problem) {
    elf->image = ElfImage{};
    elf->name = path;
    elf->owned = nullptr;
    elf->map = FileMap{};
    elf->map.slot = -1;
    elf->boot.clear();
    elf->serial.clear();
    if (disc_image_detect(path) != DISC_IMAGE_NONE) {
        return image_open(path, elf, problem);
    }
    elf->serial = pnach_serial_from_name(path);
    uint32_t error = 0;
    FileMapStatus mapped = file_map_open(path, &elf->map, &error);
    if (mapped != FILE_MAP_OK) {
        if (mapped == FILE_MAP_OPEN_FAILED || mapped == FILE_MAP_FAILED || error != 0) {
            *problem = cli_report_system_text(path, MSG_INVALID_ELF, error);
        } else {
            *problem =
                cli_report_file_text(path, MSG_INVALID_ELF,
                                     mapped == FILE_MAP_TOO_LARGE ? elf_status_text(ELF_TOO_LARGE)
                                                                  : "not a regular file");
        }
        return 0;
    }
    ElfStatus status = elf_image_parse(elf->map.data, elf->map.size, &elf->image);
    if (status != ELF_OK) {
        *problem = cli_report_file_text(path, MSG_INVALID_ELF, elf_status_text(status));
        return 0;
    }
    // The header was read from the mapping too: a file cut short meanwhile reads as zeros.
    if (file_map_damaged(&elf->map)) {
        *problem = cli_elf_damage_text(elf);
        return 0;
    }
    return 1;
}

bool cli_elf_damaged(const CliElf* elf) {
    // An image's executable was copied out whole: nothing can change under it.
    return !elf->owned && file_map_damaged(&elf->map);
}

std::string cli_elf_executable_name(const CliElf* elf) {
    return elf->owned ? elf->boot : executable_file_base_name(elf->name);
}

std::string cli_elf_damage_text(const CliElf* elf) {
    // No system call failed, so there is no system text to give.
    return cli_report_file_text(elf->name.c_str(), "Error reading file", nullptr);
}

void cli_elf_close(CliElf* elf) {
    elf_image_clear(&elf->image);
    if (elf->owned) {
        std::free(elf->owned);
        elf->owned = nullptr;
    } else {
        file_map_close(&elf->map);
    }
}
