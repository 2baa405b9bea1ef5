// The stand-in replaces all of winmm for the process: whatever a program imports from winmm
// must be there, or the program does not start.
#include "tests/standin/standin_fixture.h"

#include <fstream>
#include <iterator>

namespace {

// The names a 64-bit PE file imports from one DLL, read from the file itself.
std::vector<std::string> ImportsFrom(const std::string& path, const std::string& dll) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(file)), {});
    std::vector<std::string> names;
    auto at = [&](size_t offset, size_t size) {
        return offset + size <= image.size() ? image.data() + offset : nullptr;
    };
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(at(0, sizeof(IMAGE_DOS_HEADER)));
    if (!dos)
        return names;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(
        at(static_cast<size_t>(dos->e_lfanew), sizeof(IMAGE_NT_HEADERS64)));
    if (!nt || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return names;
    auto* sections = IMAGE_FIRST_SECTION(nt);
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return rva - s.VirtualAddress + s.PointerToRawData;
        }
        return image.size();
    };
    DWORD importRva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (size_t d = fileOffset(importRva);; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto* desc =
            reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(at(d, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
        if (!desc || desc->Name == 0)
            break;
        const char* name = at(fileOffset(desc->Name), 1);
        if (!name || lstrcmpiA(name, dll.c_str()) != 0)
            continue;
        DWORD thunks = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
        for (size_t t = fileOffset(thunks);; t += sizeof(ULONGLONG)) {
            auto* thunk = reinterpret_cast<ULONGLONG*>(at(t, sizeof(ULONGLONG)));
            if (!thunk || *thunk == 0 || (*thunk & IMAGE_ORDINAL_FLAG64))
                break;
            const char* byName = at(fileOffset(static_cast<DWORD>(*thunk)) + 2, 1);
            if (byName)
                names.push_back(byName);
        }
    }
    return names;
}

} // namespace

TEST(StandInExports, WhatTheProgramAndTheseTestsImportIsExported) {
    char self[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    std::vector<std::string> programs = {self};
#ifdef TAVI_SETUP_EXE
    programs.push_back(TAVI_SETUP_EXE);
#endif
    HMODULE winmm = GetModuleHandleA("winmm.dll");
    ASSERT_NE(winmm, nullptr);
    for (const auto& program : programs) {
        SCOPED_TRACE(program);
        auto imports = ImportsFrom(program, "winmm.dll");
        EXPECT_GE(imports.size(), 10u); // the reader must find the imports at all
        for (const auto& name : imports)
            EXPECT_NE(GetProcAddress(winmm, name.c_str()), nullptr) << name;
    }
}
