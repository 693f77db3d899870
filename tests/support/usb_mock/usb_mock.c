/* usb-mock: emulates USB printers for the Linux build with umockdev, so that the real libusb
 * code of vxflash runs against printer-sim's USB session.
 *
 *   umockdev-wrapper usb-mock --device SOCKET [--device SOCKET...] -- PROGRAM ARGS...
 *
 * Device k (from 1) sits on bus 1, port k, with vendor 0x7A1E, product 0x0030 and one printer
 * interface (bulk OUT 0x01, bulk IN 0x82). Its URBs are answered here: an OUT URB goes to the
 * printer-sim socket as one frame (4-byte little-endian length, then the bytes) and completes
 * once the socket took the whole frame, so a printer that stops reading keeps it pending as a
 * stalled pipe would (the socket's buffer is kept small for that); an IN URB completes when
 * the printer has sent something, with at most what it asks for. The kernel's printer driver
 * (usblp) holds each interface until a claim takes it off, and comes back when the program
 * asks; at the end each device says whether usblp is attached. PROGRAM runs under the
 * emulation; its exit code is ours (125 on a set-up failure). */
#include <errno.h>
#include <fcntl.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#define MAX_DEVICES 4
#define MAX_URBS 16

typedef struct {
    UMockdevIoctlData* urb;    /* the client's struct usbdevfs_urb */
    UMockdevIoctlData* buffer; /* its data buffer */
    unsigned long seq;         /* submission order: OUT frames go out in it */
    size_t sent;               /* OUT: bytes of the frame (length and data) sent so far */
} Urb;

typedef struct {
    char devnode[64];
    int sock;
    Urb in_flight[MAX_URBS]; /* submitted, not yet reaped */
    int n_in_flight;
    Urb discarded[MAX_URBS];
    int n_discarded;
    unsigned long next_seq;
    int broken;   /* an OUT frame was cut in the middle: the stream has lost its framing */
    int detached; /* the kernel's printer driver (usblp) was taken off the interface */
    int detaches; /* how often */
} Device;

static Device devices[MAX_DEVICES];
static int n_devices;
static GMutex lock;

static Device* device_of(UMockdevIoctlClient* client) {
    const char* node = umockdev_ioctl_client_get_devnode(client);
    for (int i = 0; i < n_devices; ++i) {
        if (node && strcmp(node, devices[i].devnode) == 0)
            return &devices[i];
    }
    return NULL;
}

static int is_out(const Urb* u) {
    return (((struct usbdevfs_urb*)u->urb->data)->endpoint & 0x80) == 0;
}

static size_t frame_size(const Urb* u) {
    return 4 + (size_t)((struct usbdevfs_urb*)u->urb->data)->buffer_length;
}

/* Sends what the socket takes of the pending OUT frames, oldest first, without waiting. */
static void push_out(Device* d) {
    for (;;) {
        Urb* next = NULL;
        for (int i = 0; i < d->n_in_flight; ++i) {
            Urb* u = &d->in_flight[i];
            if (is_out(u) && u->sent < frame_size(u) && (next == NULL || u->seq < next->seq))
                next = u;
        }
        if (next == NULL)
            return;
        const guint32 len = (guint32)(frame_size(next) - 4);
        const unsigned char head[4] = {len & 0xFF, (len >> 8) & 0xFF, (len >> 16) & 0xFF,
                                       (len >> 24) & 0xFF};
        const unsigned char* from = next->sent < 4
                                        ? head + next->sent
                                        : (unsigned char*)next->buffer->data + (next->sent - 4);
        const size_t n = next->sent < 4 ? 4 - next->sent : frame_size(next) - next->sent;
        const ssize_t w = send(d->sock, from, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w <= 0)
            return; /* full (the printer stopped reading) or gone: it stays pending */
        next->sent += (size_t)w;
    }
}

static void drop(Urb* list, int* n, int i) {
    list[i] = list[*n - 1];
    --*n;
}

static void release(Urb* u) {
    g_clear_object(&u->buffer);
    g_clear_object(&u->urb);
}

static void finish_reap(UMockdevIoctlClient* client, Urb* u) {
    g_autoptr(UMockdevIoctlData) ptr =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), NULL);
    umockdev_ioctl_data_set_ptr(ptr, 0, u->urb);
    umockdev_ioctl_client_complete(client, 0, 0);
    release(u);
}

/* Reaps the first URB that has finished: a discarded one, an OUT one whose frame the socket
 * took, or an IN one for which the printer has bytes. */
static gboolean reap(Device* d, UMockdevIoctlClient* client) {
    push_out(d);
    if (d->n_discarded > 0) {
        Urb u = d->discarded[0];
        drop(d->discarded, &d->n_discarded, 0);
        ((struct usbdevfs_urb*)u.urb->data)->status = -ENOENT;
        ((struct usbdevfs_urb*)u.urb->data)->actual_length = 0;
        finish_reap(client, &u);
        return TRUE;
    }
    for (int i = 0; i < d->n_in_flight; ++i) {
        Urb u = d->in_flight[i];
        struct usbdevfs_urb* urb = (struct usbdevfs_urb*)u.urb->data;
        if (is_out(&u)) {
            if (u.sent < frame_size(&u))
                continue;
            urb->actual_length = urb->buffer_length;
            urb->status = 0;
            drop(d->in_flight, &d->n_in_flight, i);
            finish_reap(client, &u);
            return TRUE;
        }
        ssize_t r = recv(d->sock, u.buffer->data, (size_t)urb->buffer_length, MSG_DONTWAIT);
        if (r > 0) {
            urb->actual_length = (int)r;
            urb->status = 0;
            drop(d->in_flight, &d->n_in_flight, i);
            finish_reap(client, &u);
            return TRUE;
        }
    }
    /* Nothing has finished: a short pause keeps the caller's event loop from spinning. */
    g_usleep(1000);
    umockdev_ioctl_client_complete(client, -1, EAGAIN);
    return TRUE;
}

static gboolean handle_ioctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client,
                             gpointer user_data) {
    (void)handler;
    (void)user_data;
    Device* d = device_of(client);
    if (d == NULL)
        return FALSE;
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    gboolean handled = TRUE;
    g_mutex_lock(&lock);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            g_autoptr(UMockdevIoctlData) caps =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), NULL);
            *(guint32*)caps->data = USBDEVFS_CAP_BULK_CONTINUATION |
                                    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_DISCONNECT_CLAIM: /* usblp goes, the interface is claimed */
            d->detached = 1;
            ++d->detaches;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        case USBDEVFS_IOCTL: { /* only USBDEVFS_CONNECT: usblp comes back */
            g_autoptr(UMockdevIoctlData) io =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_ioctl), NULL);
            if (((struct usbdevfs_ioctl*)io->data)->ioctl_code != (int)USBDEVFS_CONNECT) {
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                break;
            }
            d->detached = 0;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        case USBDEVFS_GETDRIVER: { /* usblp holds the interface unless it was taken off */
            if (d->detached) {
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                break;
            }
            g_autoptr(UMockdevIoctlData) drv =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_getdriver), NULL);
            strcpy(((struct usbdevfs_getdriver*)drv->data)->driver, "usblp");
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_SUBMITURB: {
            Urb u = {0};
            u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(struct usbdevfs_urb), NULL);
            struct usbdevfs_urb* urb = (struct usbdevfs_urb*)u.urb->data;
            if (urb->type != USBDEVFS_URB_TYPE_BULK || d->n_in_flight >= MAX_URBS) {
                g_clear_object(&u.urb);
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                break;
            }
            u.buffer =
                umockdev_ioctl_data_resolve(u.urb, G_STRUCT_OFFSET(struct usbdevfs_urb, buffer),
                                            (gsize)urb->buffer_length, NULL);
            if ((urb->endpoint & 0x80) == 0 && d->broken) {
                release(&u);
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                break;
            }
            u.seq = d->next_seq++;
            d->in_flight[d->n_in_flight++] = u;
            push_out(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reap(d, client);
            break;
        case USBDEVFS_DISCARDURB: {
            const gulong addr = *(gulong*)arg->data;
            int found = -1;
            for (int i = 0; i < d->n_in_flight; ++i) {
                if (d->in_flight[i].urb->client_addr == addr)
                    found = i;
            }
            if (found < 0 || d->n_discarded >= MAX_URBS) {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                break;
            }
            Urb* u = &d->in_flight[found];
            if (is_out(u) && u->sent > 0 && u->sent < frame_size(u))
                d->broken = 1;
            d->discarded[d->n_discarded++] = *u;
            drop(d->in_flight, &d->n_in_flight, found);
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        default:
            handled = FALSE;
            break;
    }
    g_mutex_unlock(&lock);
    return handled;
}

static int connect_sim(const char* path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr = {0};
    addr.sun_family = AF_UNIX;
    if (fd < 0 || strlen(path) >= sizeof addr.sun_path)
        return -1;
    strcpy(addr.sun_path, path);
    for (int i = 0; i < 100; ++i) {
        if (connect(fd, (struct sockaddr*)&addr, sizeof addr) == 0)
            return fd;
        g_usleep(50000);
    }
    close(fd);
    return -1;
}

/* Device, configuration, printer interface (7/1/2) and its two bulk endpoints. */
static const char DESCRIPTORS[] =
    "12010002000000401e7a300000010102030109022000010100c00109040000020701020007050102000200"
    "07058202000200";

static int add_device(UMockdevTestbed* bed, UMockdevIoctlBase* handler, int k) {
    Device* d = &devices[k - 1];
    snprintf(d->devnode, sizeof d->devnode, "/dev/bus/usb/001/%03d", k + 1);
    GError* error = NULL;
    if (!umockdev_testbed_attach_ioctl(bed, d->devnode, handler, &error)) {
        fprintf(stderr, "usb-mock: attach %s: %s\n", d->devnode, error->message);
        return -1;
    }
    char* text = g_strdup_printf(
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
        "N: bus/usb/001/%03d\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        "E: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
        "A: busnum=1\\n\nA: devnum=%d\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
        "A: idVendor=7a1e\\n\nA: idProduct=0030\\n\nA: devpath=%d\\n\n"
        "H: descriptors=%s\n",
        k, k + 1, k + 1, k + 1, k + 1, k, DESCRIPTORS);
    gboolean ok = umockdev_testbed_add_from_string(bed, text, &error);
    g_free(text);
    if (!ok) {
        fprintf(stderr, "usb-mock: device %d: %s\n", k, error->message);
        return -1;
    }
    return 0;
}

typedef struct {
    GMainLoop* loop;
    int status;
} Child;

static void child_done(GPid pid, gint status, gpointer data) {
    Child* c = data;
    c->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    g_spawn_close_pid(pid);
    g_main_loop_quit(c->loop);
}

int main(int argc, char** argv) {
    int i = 1;
    const char* sockets[MAX_DEVICES];
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "--device") == 0 && i + 1 < argc && n_devices < MAX_DEVICES) {
            sockets[n_devices++] = argv[++i];
        } else {
            fprintf(stderr,
                    "usage: usb-mock --device SOCKET [--device SOCKET...] -- PROGRAM ARGS...\n");
            return 125;
        }
    }
    if (i + 1 >= argc || n_devices == 0) {
        fprintf(stderr,
                "usage: usb-mock --device SOCKET [--device SOCKET...] -- PROGRAM ARGS...\n");
        return 125;
    }
    UMockdevTestbed* bed = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        fprintf(stderr, "usb-mock: run me under umockdev-wrapper\n");
        return 125;
    }
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(handle_ioctl), NULL);
    for (int k = 1; k <= n_devices; ++k) {
        devices[k - 1].sock = connect_sim(sockets[k - 1]);
        if (devices[k - 1].sock < 0) {
            fprintf(stderr, "usb-mock: cannot reach %s\n", sockets[k - 1]);
            return 125;
        }
        /* A few pages in flight at most, so a printer that stops reading stalls the pipe
         * soon, as a real one would after its own small buffer. */
        const int sndbuf = 16384;
        setsockopt(devices[k - 1].sock, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
        if (add_device(bed, handler, k) != 0)
            return 125;
    }

    Child child = {g_main_loop_new(NULL, FALSE), 125};
    GPid pid;
    GError* error = NULL;
    if (!g_spawn_async(
            NULL, argv + i + 1, NULL,
            G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH | G_SPAWN_CHILD_INHERITS_STDIN, NULL,
            NULL, &pid, &error)) {
        fprintf(stderr, "usb-mock: cannot start %s: %s\n", argv[i + 1], error->message);
        return 125;
    }
    g_child_watch_add(pid, child_done, &child);
    g_main_loop_run(child.loop);
    g_main_loop_unref(child.loop);
    for (int k = 0; k < n_devices; ++k) {
        fprintf(stderr, "usb-mock: device %d: usblp %s, taken off %d times\n", k + 1,
                devices[k].detached ? "detached" : "attached", devices[k].detaches);
        close(devices[k].sock);
    }
    g_object_unref(handler);
    g_object_unref(bed);
    return child.status;
}
