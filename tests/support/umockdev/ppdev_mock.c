/* A parallel port for the Linux ppdev code, served by umockdev: /dev/parport0 answers the
 * claim, the ECP negotiation and the mode calls, and answers every write with REPLY. Each
 * call is recorded in LOG, one line each ("claim", "negotiate 16", "write 1b7d7b", ...).
 * usage: ppdev_mock LOG REPLY COMMAND...   runs COMMAND in the mock environment and exits
 * with its exit code. */
#include <errno.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <umockdev.h>
/* after sys/ioctl.h */
#include <linux/parport.h>
#include <linux/ppdev.h>

static FILE* log_file;
static const char* reply;
static GByteArray* pending; /* reply bytes not yet read */
static GMutex lock;

static void note(const char* text) {
    fprintf(log_file, "%s\n", text);
    fflush(log_file);
}

static gboolean on_ioctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer unused) {
    (void)handler, (void)unused;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    char line[64];
    if (request == (gulong)PPCLAIM || request == (gulong)PPRELEASE) {
        note(request == (gulong)PPCLAIM ? "claim" : "release");
        umockdev_ioctl_client_complete(client, 0, 0);
    } else if (request == (gulong)PPNEGOT || request == (gulong)PPSETMODE) {
        GError* error = NULL;
        UMockdevIoctlData* mode = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), &error);
        if (mode == NULL) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return TRUE;
        }
        snprintf(line, sizeof line, "%s %d", request == (gulong)PPNEGOT ? "negotiate" : "mode",
                 *(int*)mode->data);
        note(line);
        g_object_unref(mode);
        umockdev_ioctl_client_complete(client, 0, 0);
    } else {
        snprintf(line, sizeof line, "ioctl %#lx", request);
        note(line);
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    return TRUE;
}

static gboolean on_write(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer unused) {
    (void)handler, (void)unused;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GString* line = g_string_new("write ");
    for (gint i = 0; i < arg->data_len; ++i)
        g_string_append_printf(line, "%02x", arg->data[i]);
    note(line->str);
    g_string_free(line, TRUE);
    g_mutex_lock(&lock);
    g_byte_array_append(pending, (const guint8*)reply, (guint)strlen(reply));
    g_mutex_unlock(&lock);
    umockdev_ioctl_client_complete(client, arg->data_len, 0);
    return TRUE;
}

static gboolean on_read(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer unused) {
    (void)handler, (void)unused;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    g_mutex_lock(&lock);
    const guint n = MIN(pending->len, (guint)arg->data_len);
    memcpy(arg->data, pending->data, n);
    g_byte_array_remove_range(pending, 0, n);
    g_mutex_unlock(&lock);
    if (n == 0)
        umockdev_ioctl_client_complete(client, -1, EAGAIN); /* a non-blocking read */
    else
        umockdev_ioctl_client_complete(client, (glong)n, 0);
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: ppdev_mock LOG REPLY COMMAND...\n");
        return 2;
    }
    log_file = fopen(argv[1], "w");
    if (log_file == NULL) {
        perror(argv[1]);
        return 2;
    }
    reply = argv[2];
    pending = g_byte_array_new();

    GError* error = NULL;
    UMockdevTestbed* testbed = umockdev_testbed_new();
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(on_ioctl), NULL);
    g_signal_connect(handler, "handle-write", G_CALLBACK(on_write), NULL);
    g_signal_connect(handler, "handle-read", G_CALLBACK(on_read), NULL);
    if (!umockdev_testbed_add_from_string(
            testbed,
            "P: /devices/platform/parport_pc.956/parport/parport0\nN: parport0\n"
            "E: SUBSYSTEM=parport\nE: DEVNAME=/dev/parport0\n",
            &error) ||
        !umockdev_testbed_attach_ioctl(testbed, "/dev/parport0", handler, &error)) {
        fprintf(stderr, "testbed: %s\n", error ? error->message : "?");
        return 2;
    }

    /* The command runs with the preload library, which sends the node's calls here. */
    GPtrArray* child = g_ptr_array_new();
    g_ptr_array_add(child, (gpointer) "umockdev-wrapper");
    for (int i = 3; i < argc; ++i)
        g_ptr_array_add(child, argv[i]);
    g_ptr_array_add(child, NULL);
    gint status = 0;
    if (!g_spawn_sync(NULL, (gchar**)child->pdata, NULL,
                      G_SPAWN_SEARCH_PATH | G_SPAWN_CHILD_INHERITS_STDIN, NULL, NULL, NULL, NULL,
                      &status, &error)) {
        fprintf(stderr, "spawn: %s\n", error->message);
        return 2;
    }
    g_ptr_array_free(child, TRUE);
    umockdev_testbed_detach_ioctl(testbed, "/dev/parport0", NULL);
    g_object_unref(handler);
    g_object_unref(testbed);
    fclose(log_file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
