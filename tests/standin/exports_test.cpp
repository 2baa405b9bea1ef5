// The stand-in replaces all of winmm for the process: whatever a program imports from winmm
// must be there, or the program does not start.
#include "tests/standin/standin_fixture.h"

namespace {

// The names a mapped module imports by name from winmm, read from its import table.
std::vector<std::string> WinmmImports(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::vector<std::string> names;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + rva); rva && d->Name;
         ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "winmm.dll") != 0)
            continue;
        DWORD thunks = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        for (auto* t = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + thunks);
             t->u1.AddressOfData && !IMAGE_SNAP_BY_ORDINAL(t->u1.Ordinal); ++t)
            names.push_back(
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + t->u1.AddressOfData)->Name);
    }
    return names;
}

} // namespace

TEST(StandInExports, WhatTheProgramAndTheseTestsImportIsExported) {
    std::vector<HMODULE> modules = {GetModuleHandleA(nullptr)};
#ifdef TAVI_SETUP_EXE
    // Mapped without resolving its imports, so a missing export cannot stop the mapping.
    modules.push_back(LoadLibraryExA(TAVI_SETUP_EXE, nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_NE(modules.back(), nullptr) << TAVI_SETUP_EXE;
#endif
    HMODULE winmm = GetModuleHandleA("winmm.dll");
    ASSERT_NE(winmm, nullptr);
    for (HMODULE module : modules) {
        auto imports = WinmmImports(module);
        EXPECT_GE(imports.size(), 10u); // the reader must find the imports at all
        for (const auto& name : imports)
            EXPECT_NE(GetProcAddress(winmm, name.c_str()), nullptr) << name;
    }
}
