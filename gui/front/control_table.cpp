// The control table: a singly linked list, newest first. Only the GUI thread links records;
// every thread walks the list without a lock, so a record is published with release order once
// it is fully written.
#include <atomic>
#include <cstdlib>

#include "gui/backend.h"

static std::atomic<ControlRecord*> table_head{nullptr};

ControlRecord* control_table_head() {
    return table_head.load(std::memory_order_acquire);
}

static const ControlRecord* control_find(uint32_t id) {
    if (id == 0) {
        return nullptr;
    }
    for (const ControlRecord* record = control_table_head(); record; record = record->next) {
        if (record->id == id) {
            return record;
        }
    }
    return nullptr;
}

ErrorCode control_find_kind(uint32_t id, ControlKind* kind) {
    const ControlRecord* record = control_find(id);
    if (!record) {
        return GUI_ERROR_INITIALIZATION;
    }
    *kind = record->kind;
    return GUI_ERROR_NONE;
}

ErrorCode control_find_handle(uint32_t id, ControlKind expected, void** handle) {
    const ControlRecord* record = control_find(id);
    if (!record || (expected != 0 && record->kind != expected)) {
        return GUI_ERROR_INITIALIZATION;
    }
    *handle = record->handle;
    return GUI_ERROR_NONE;
}

ErrorCode control_table_link(uint32_t id, ControlKind kind, void* handle) {
    ControlRecord* record = static_cast<ControlRecord*>(std::malloc(sizeof(ControlRecord)));
    if (!record) {
        return GUI_ERROR_MALLOC;
    }
    record->id = id;
    record->kind = kind;
    record->handle = handle;
    record->next = table_head.load(std::memory_order_relaxed);
    table_head.store(record, std::memory_order_release);
    return GUI_ERROR_NONE;
}

void control_table_free(void (*release)(void* handle, ControlKind kind)) {
    ControlRecord* record = table_head.exchange(nullptr, std::memory_order_acq_rel);
    while (record) {
        ControlRecord* next = record->next;
        if (release) {
            release(record->handle, record->kind);
        }
        std::free(record);
        record = next;
    }
}
