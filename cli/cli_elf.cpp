#include "cli/cli_elf.h"

#include "cli/cli_report.h"
#include "core/search_rules.h"

int cli_elf_open(const char* path, CliElf* elf, std::string* problem) {
    elf->image = ElfImage{};
    elf->name = path;
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
    return file_map_damaged(&elf->map);
}

std::string cli_elf_damage_text(const CliElf* elf) {
    // No system call failed, so there is no system text to give.
    return cli_report_file_text(elf->name.c_str(), "Error reading file", nullptr);
}

void cli_elf_close(CliElf* elf) {
    elf_image_clear(&elf->image);
    file_map_close(&elf->map);
}
