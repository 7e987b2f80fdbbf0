// Carrying calls to the GUI thread. GTK may be touched on its own thread only, so every backend
// operation runs there: in place when the caller is the GUI thread, otherwise through a queue
// that a main-context source serves, one request at a time, whenever the GUI thread iterates a
// loop: its main loop or the modal loop of a message box or dialog, never in the middle of a
// handler. The source may recurse, so a request that opens a message box does not hold up the
// requests of other threads while the box is open.
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "gui/gtk/gtk_internal.h"

struct Request {
    ErrorCode (*run)(void* context); // a call that the caller waits for
    void (*post)(void* context);     // or one that nobody waits for
    void* context;
    ErrorCode result;
    const char* failed_call;
    uint32_t error;
    bool done;
    Request* next;
};

static std::mutex queue_mutex;
static std::condition_variable queue_served;
static Request* queue_head;
static Request* queue_tail;
static bool queue_is_open;
static GSource* queue_source;

ErrorCode gtk_fail(const char* call, int error) {
    system_set_last_error(static_cast<uint32_t>(error));
    return trace_gui_system_failure(call);
}

static Request* queue_pop() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    Request* request = queue_head;
    if (request) {
        queue_head = request->next;
        if (!queue_head) {
            queue_tail = nullptr;
        }
    }
    return request;
}

static bool queue_has_requests() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    return queue_head != nullptr;
}

static void queue_push(Request* request) {
    request->next = nullptr;
    if (queue_tail) {
        queue_tail->next = request;
    } else {
        queue_head = request;
    }
    queue_tail = request;
}

static gboolean source_prepare(GSource*, gint* timeout) {
    *timeout = -1;
    return queue_has_requests();
}

static gboolean source_check(GSource*) {
    return queue_has_requests();
}

static gboolean source_dispatch(GSource*, GSourceFunc, gpointer) {
    Request* request = queue_pop();
    if (!request) {
        return G_SOURCE_CONTINUE;
    }
    if (request->post) {
        request->post(request->context);
        delete request;
        return G_SOURCE_CONTINUE;
    }
    ErrorCode result = gtk_main_window ? request->run(request->context) : GUI_ERROR_INITIALIZATION;
    const char* failed_call = nullptr;
    uint32_t error = 0;
    if (result == GUI_ERROR_SYSTEM_CALL) {
        failed_call = trace_context()->system_call;
        error = system_last_error();
    }
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        request->result = result;
        request->failed_call = failed_call;
        request->error = error;
        request->done = true;
    }
    queue_served.notify_all();
    return G_SOURCE_CONTINUE;
}

static GSourceFuncs source_funcs = {source_prepare, source_check, source_dispatch,
                                    nullptr,        nullptr,      nullptr};

void gtk_queue_attach() {
    queue_source = g_source_new(&source_funcs, sizeof(GSource));
    g_source_set_can_recurse(queue_source, TRUE);
    g_source_set_name(queue_source, "quarnel calls");
    g_source_attach(queue_source, nullptr);
}

void gtk_queue_open() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    queue_is_open = true;
}

void gtk_queue_close() {
    Request* posted = nullptr;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        queue_is_open = false;
        Request* request = queue_head;
        queue_head = queue_tail = nullptr;
        while (request) {
            // Read the link first: a waiting caller's record lives on its stack and may be gone
            // as soon as it is marked done and the lock is released.
            Request* next = request->next;
            if (request->post) {
                request->next = posted;
                posted = request;
            } else {
                request->result = GUI_ERROR_INITIALIZATION;
                request->done = true;
            }
            request = next;
        }
    }
    queue_served.notify_all();
    while (posted) {
        Request* next = posted->next;
        delete posted;
        posted = next;
    }
    if (queue_source) {
        g_source_destroy(queue_source);
        g_source_unref(queue_source);
        queue_source = nullptr;
    }
}

ErrorCode gtk_call(ErrorCode (*run)(void* context), void* context) {
    if (gtk_on_gui_thread()) {
        return gtk_main_window ? run(context) : GUI_ERROR_INITIALIZATION;
    }
    Request request{};
    request.run = run;
    request.context = context;
    {
        std::unique_lock<std::mutex> lock(queue_mutex);
        if (!queue_is_open) {
            return GUI_ERROR_INITIALIZATION;
        }
        queue_push(&request);
    }
    g_main_context_wakeup(nullptr);
    {
        std::unique_lock<std::mutex> lock(queue_mutex);
        queue_served.wait(lock, [&] { return request.done; });
    }
    if (request.result == GUI_ERROR_SYSTEM_CALL) {
        system_set_last_error(request.error);
        trace_gui_system_failure(request.failed_call);
    }
    return request.result;
}

int gtk_post(void (*run)(void* context), void* context) {
    Request* request = new Request{};
    request->post = run;
    request->context = context;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (!queue_is_open) {
            delete request;
            return 0;
        }
        queue_push(request);
    }
    g_main_context_wakeup(nullptr);
    return 1;
}
