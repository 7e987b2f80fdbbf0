// Progress on the program's taskbar button, through the shell's ITaskbarList3. ole32 is loaded
// at run time, so the program starts on systems (and in Wine prefixes) without it.
// windows.h first: the other system headers build on it.
#include "gui/win32/win32_internal.h"

#include <shobjidl.h>

static const CLSID taskbar_list_class = {
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
static const IID taskbar_list3_interface = {
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

// Created on the GUI thread and kept for the life of the process; the ready flag is published
// after the pointer.
static ITaskbarList3* taskbar_list;
static volatile LONG taskbar_ready;

typedef HRESULT(WINAPI* OleInitializeFunction)(void*);
typedef HRESULT(WINAPI* CoCreateInstanceFunction)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

HRESULT taskbar_init() {
    HMODULE ole32 = LoadLibraryA("ole32.dll");
    if (!ole32) {
        return E_FAIL;
    }
    auto ole_initialize = reinterpret_cast<OleInitializeFunction>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "OleInitialize")));
    auto co_create_instance = reinterpret_cast<CoCreateInstanceFunction>(
        reinterpret_cast<void*>(GetProcAddress(ole32, "CoCreateInstance")));
    if (!ole_initialize || !co_create_instance) {
        return E_FAIL;
    }
    // A second message on this thread gets S_FALSE and ends here: the first interface stays.
    HRESULT result = ole_initialize(nullptr);
    if (result != S_OK) {
        return result;
    }
    void* created = nullptr;
    result = co_create_instance(taskbar_list_class, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                taskbar_list3_interface, &created);
    if (FAILED(result)) {
        return result;
    }
    taskbar_list = static_cast<ITaskbarList3*>(created);
    InterlockedExchange(&taskbar_ready, 1);
    return S_OK;
}

ErrorCode backend_taskbar_state(uint32_t state) {
    HRESULT result = E_FAIL;
    if (InterlockedCompareExchange(&taskbar_ready, 1, 1)) {
        result = taskbar_list->SetProgressState(toolkit.main_window, static_cast<TBPFLAG>(state));
    }
    if (result != S_OK) {
        SetLastError(static_cast<DWORD>(result));
        return trace_gui_system_failure("ITaskbarList3::SetProgressState");
    }
    return GUI_ERROR_NONE;
}

ErrorCode backend_taskbar_value(uint32_t value) {
    HRESULT result = E_FAIL;
    if (InterlockedCompareExchange(&taskbar_ready, 1, 1)) {
        result = taskbar_list->SetProgressValue(toolkit.main_window, value, 100);
    }
    if (result != S_OK) {
        SetLastError(static_cast<DWORD>(result));
        return trace_gui_system_failure("ITaskbarList3::SetProgressValue");
    }
    return GUI_ERROR_NONE;
}
