#include "web/web_throttle.h"

// The input: a filter that reads through to the base stream within the
// budgets.
struct ThrottledInput {
    GFilterInputStream parent;
    gsize perTurn, perSecond;
    gsize turnLeft; // bytes still to be read in this turn
    bool renew;     // a new turn: the loop went round since turnLeft ran out
    double secondLeft;
    gint64 at;
};

struct ThrottledInputClass {
    GFilterInputStreamClass parent;
};

static void throttled_input_pollable_init(GPollableInputStreamInterface *iface);

G_DEFINE_TYPE_WITH_CODE(ThrottledInput, throttled_input, G_TYPE_FILTER_INPUT_STREAM,
                        G_IMPLEMENT_INTERFACE(G_TYPE_POLLABLE_INPUT_STREAM,
                                              throttled_input_pollable_init))

GQuark web_flood_quark() {
    return g_quark_from_static_string("q72display-web-flood");
}

static GPollableInputStream *baseOf(GPollableInputStream *stream) {
    return G_POLLABLE_INPUT_STREAM(
        g_filter_input_stream_get_base_stream(G_FILTER_INPUT_STREAM(stream)));
}

static gboolean canPoll(GPollableInputStream *stream) {
    return g_pollable_input_stream_can_poll(baseOf(stream));
}

static gboolean isReadable(GPollableInputStream *stream) {
    ThrottledInput *in = (ThrottledInput *)stream;
    return (in->turnLeft || in->renew) && g_pollable_input_stream_is_readable(baseOf(stream));
}

// With this turn's share read, the source is ready on the loop's next turn,
// once every other source ready now has had its go.
static GSource *createSource(GPollableInputStream *stream, GCancellable *cancellable) {
    ThrottledInput *in = (ThrottledInput *)stream;
    GSource *child;
    if (in->turnLeft) {
        child = g_pollable_input_stream_create_source(baseOf(stream), cancellable);
    } else {
        in->renew = true;
        child = g_timeout_source_new(0);
    }
    GSource *source = g_pollable_source_new_full(stream, child, cancellable);
    g_source_unref(child);
    return source;
}

static gssize readNonblocking(GPollableInputStream *stream, void *buffer, gsize count,
                              GError **error) {
    ThrottledInput *in = (ThrottledInput *)stream;
    if (in->renew) in->turnLeft = in->perTurn;
    in->renew = false;
    if (!in->turnLeft) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK, "read enough this turn");
        return -1;
    }
    gssize n = g_pollable_input_stream_read_nonblocking(baseOf(stream), buffer,
                                                        MIN(count, in->turnLeft), nullptr, error);
    if (n <= 0) return n;
    in->turnLeft -= (gsize)n;
    gint64 now = g_get_monotonic_time();
    in->secondLeft = MIN((double)in->perSecond,
                         in->secondLeft + (double)(now - in->at) * in->perSecond / G_USEC_PER_SEC);
    in->at = now;
    in->secondLeft -= (double)n;
    if (in->secondLeft >= 0) return n;
    g_set_error(error, web_flood_quark(), 0, "over %" G_GSIZE_FORMAT " bytes a second",
                in->perSecond);
    return -1;
}

static void throttled_input_pollable_init(GPollableInputStreamInterface *iface) {
    iface->can_poll = canPoll;
    iface->is_readable = isReadable;
    iface->create_source = createSource;
    iface->read_nonblocking = readNonblocking;
}

static void throttled_input_init(ThrottledInput *) {}

static void throttled_input_class_init(ThrottledInputClass *) {}

// The stream: the throttled input, the base's output, and closing the base.
struct ThrottledStream {
    GIOStream parent;
    GIOStream *base;
    GInputStream *input;
};

struct ThrottledStreamClass {
    GIOStreamClass parent;
};

G_DEFINE_TYPE(ThrottledStream, throttled_stream, G_TYPE_IO_STREAM)

static GInputStream *inputOf(GIOStream *stream) {
    return ((ThrottledStream *)stream)->input;
}

static GOutputStream *outputOf(GIOStream *stream) {
    return g_io_stream_get_output_stream(((ThrottledStream *)stream)->base);
}

static gboolean closeBase(GIOStream *stream, GCancellable *cancellable, GError **error) {
    return g_io_stream_close(((ThrottledStream *)stream)->base, cancellable, error);
}

static void baseClosed(GObject *base, GAsyncResult *result, gpointer data) {
    GTask *task = (GTask *)data;
    GError *error = nullptr;
    if (g_io_stream_close_finish(G_IO_STREAM(base), result, &error))
        g_task_return_boolean(task, TRUE);
    else
        g_task_return_error(task, error);
    g_object_unref(task);
}

// On the main loop, as the base closes, not in a thread of its own.
static void closeBaseAsync(GIOStream *stream, int priority, GCancellable *cancellable,
                           GAsyncReadyCallback callback, gpointer data) {
    GTask *task = g_task_new(stream, cancellable, callback, data);
    g_io_stream_close_async(((ThrottledStream *)stream)->base, priority, cancellable, baseClosed,
                            task);
}

static gboolean closeBaseFinish(GIOStream *, GAsyncResult *result, GError **error) {
    return g_task_propagate_boolean(G_TASK(result), error);
}

static void throttledStreamDispose(GObject *object) {
    ThrottledStream *stream = (ThrottledStream *)object;
    g_clear_object(&stream->input);
    g_clear_object(&stream->base);
    G_OBJECT_CLASS(throttled_stream_parent_class)->dispose(object);
}

static void throttled_stream_init(ThrottledStream *) {}

static void throttled_stream_class_init(ThrottledStreamClass *klass) {
    G_OBJECT_CLASS(klass)->dispose = throttledStreamDispose;
    GIOStreamClass *io = G_IO_STREAM_CLASS(klass);
    io->get_input_stream = inputOf;
    io->get_output_stream = outputOf;
    io->close_fn = closeBase;
    io->close_async = closeBaseAsync;
    io->close_finish = closeBaseFinish;
}

GIOStream *web_throttle(GIOStream *base, gsize perTurn, gsize perSecond) {
    ThrottledInput *in = (ThrottledInput *)g_object_new(throttled_input_get_type(), "base-stream",
                                                        g_io_stream_get_input_stream(base),
                                                        "close-base-stream", FALSE, nullptr);
    in->perTurn = in->turnLeft = perTurn;
    in->perSecond = perSecond;
    in->secondLeft = (double)perSecond;
    in->at = g_get_monotonic_time();
    ThrottledStream *stream = (ThrottledStream *)g_object_new(throttled_stream_get_type(), nullptr);
    stream->base = (GIOStream *)g_object_ref(base);
    stream->input = G_INPUT_STREAM(in);
    return G_IO_STREAM(stream);
}
