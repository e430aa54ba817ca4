#include "Platform/linux/SoupHttpTransport.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <utility>

namespace tarvel {

namespace {

template <class T>
struct Unref {
    void operator()(T* object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using Owned = std::unique_ptr<T, Unref<T>>;

struct ErrorPtr {
    GError* error = nullptr;
    ~ErrorPtr() {
        if (error) g_error_free(error);
    }
};

// The request's own main context, the thread's default while it runs, so that nothing it does
// waits for another loop or is run by one.
class ContextScope {
public:
    ContextScope() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~ContextScope() {
        // Whatever the request left behind finishes here, before the context goes.
        while (g_main_context_iteration(context_, FALSE)) {
        }
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;
    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

// Ends the request early when the deadline passes or the caller stops waiting.
struct Watchdog {
    const HttpRequest& request;
    GCancellable* cancellable;
    bool timedOut = false;
    bool stopped = false;

    static gboolean check(gpointer data) {
        auto* dog = static_cast<Watchdog*>(data);
        if (dog->timedOut || dog->stopped) return G_SOURCE_CONTINUE;
        if (dog->request.stopRequested && dog->request.stopRequested->load()) dog->stopped = true;
        else if (std::chrono::steady_clock::now() >= dog->request.deadline) dog->timedOut = true;
        if (dog->timedOut || dog->stopped) g_cancellable_cancel(dog->cancellable);
        return G_SOURCE_CONTINUE;
    }
};

// One asynchronous step, waited for on the request's context.
template <class Value>
struct Step {
    bool done = false;
    Value value{};
    GError* error = nullptr;
};

template <class Value>
void waitFor(GMainContext* context, const Step<Value>& step) {
    while (!step.done) g_main_context_iteration(context, TRUE);
}

HttpFailure failureFrom(const Watchdog& dog, GError* error) {
    if (dog.timedOut) return {HttpFailure::Kind::timeout, "no answer in time"};
    if (dog.stopped) return {HttpFailure::Kind::stopped, "stopped"};
    if (!error) return {HttpFailure::Kind::offline, "the connection failed"};
    if (error->domain == G_TLS_ERROR) return {HttpFailure::Kind::untrusted, error->message};
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return {HttpFailure::Kind::timeout, error->message};
    return {HttpFailure::Kind::offline, error->message};
}

} // namespace

SoupHttpTransport::SoupHttpTransport(std::optional<std::filesystem::path> trustedAuthoritiesForTests)
    : trustedAuthorities_(std::move(trustedAuthoritiesForTests)) {}

Result<HttpResponse, HttpFailure> SoupHttpTransport::get(const HttpRequest& request) {
    ContextScope scope;
    Owned<SoupSession> session(soup_session_new_with_options("user-agent", "Tarvel", "timeout", 0u, "idle-timeout", 0u, nullptr));
    if (trustedAuthorities_) {
        ErrorPtr error;
        Owned<GTlsDatabase> database(g_tls_file_database_new(trustedAuthorities_->c_str(), &error.error));
        if (!database) return unexpected(HttpFailure{HttpFailure::Kind::untrusted, error.error ? error.error->message : "no database"});
        soup_session_set_tls_database(session.get(), database.get());
    }
    Owned<SoupMessage> message(soup_message_new(SOUP_METHOD_GET, request.url.c_str()));
    if (!message) return unexpected(HttpFailure{HttpFailure::Kind::offline, "the address cannot be used"});
    // Redirects are the caller's to judge.
    soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
    soup_message_headers_append(soup_message_get_request_headers(message.get()), "Accept", "application/json, */*");

    Owned<GCancellable> cancellable(g_cancellable_new());
    Watchdog dog{request, cancellable.get()};
    GSource* timer = g_timeout_source_new(25);
    g_source_set_callback(timer, &Watchdog::check, &dog, nullptr);
    g_source_attach(timer, scope.get());
    struct TimerScope {
        GSource* source;
        ~TimerScope() {
            g_source_destroy(source);
            g_source_unref(source);
        }
    } timerScope{timer};
    Watchdog::check(&dog);

    Step<GInputStream*> sent;
    soup_session_send_async(
        session.get(), message.get(), G_PRIORITY_DEFAULT, cancellable.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* step = static_cast<Step<GInputStream*>*>(data);
            step->value = soup_session_send_finish(SOUP_SESSION(source), result, &step->error);
            step->done = true;
        },
        &sent);
    waitFor(scope.get(), sent);
    ErrorPtr sendError{sent.error};
    Owned<GInputStream> stream(sent.value);
    if (!stream) return unexpected(failureFrom(dog, sent.error));

    HttpResponse response;
    response.status = static_cast<int>(soup_message_get_status(message.get()));
    SoupMessageHeaders* headers = soup_message_get_response_headers(message.get());
    if (const char* location = soup_message_headers_get_one(headers, "Location")) response.location = location;
    if (response.status < 200 || response.status > 299) return response;

    // A length announced over the limit is refused before anything is read.
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        soup_message_headers_get_content_length(headers) > static_cast<goffset>(request.maxBodyBytes))
        return unexpected(HttpFailure{HttpFailure::Kind::tooLarge, ""});
    for (;;) {
        Step<GBytes*> read;
        g_input_stream_read_bytes_async(
            stream.get(), 64 * 1024, G_PRIORITY_DEFAULT, cancellable.get(),
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* step = static_cast<Step<GBytes*>*>(data);
                step->value = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &step->error);
                step->done = true;
            },
            &read);
        waitFor(scope.get(), read);
        ErrorPtr readError{read.error};
        if (!read.value) return unexpected(failureFrom(dog, read.error));
        const std::unique_ptr<GBytes, decltype(&g_bytes_unref)> chunk(read.value, &g_bytes_unref);
        gsize size = 0;
        const auto* bytes = static_cast<const char*>(g_bytes_get_data(chunk.get(), &size));
        if (size > 0) response.body.append(bytes, size);
        if (response.body.size() > request.maxBodyBytes) {
            g_cancellable_cancel(cancellable.get());
            return unexpected(HttpFailure{HttpFailure::Kind::tooLarge, ""});
        }
        if (size == 0) break;
        // The deadline holds while the body arrives too.
        if (dog.timedOut || dog.stopped) return unexpected(failureFrom(dog, nullptr));
    }
    return response;
}

} // namespace tarvel
