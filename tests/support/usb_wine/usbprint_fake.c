/* usbprint_fake.sys: USB printers for the Windows build under Wine, so that the exe's real
 * SetupDi/CreateFile/overlapped code runs against printer-sim's USB session.
 *
 * Wine runs kernel drivers inside an ordinary process (its device host), so the driver talks
 * to printer-sim over Winsock, on TCP to 127.0.0.1 (printer-sim --usb-tcp): Wine 8's Winsock
 * has no AF_UNIX. Framing as for the Linux build's umockdev helper: each write on PIPE00 goes
 * out as a 4-byte little-endian length and the bytes; what comes back is plain bytes, handed
 * to reads on PIPE01.
 *
 * Devices come from the service's Parameters key: one REG_DWORD value per printer, its name
 * the device path without "\\?\" (usb#vid_7a1e&pid_0030#INSTANCE#{28d78fad-...}), its data the
 * TCP port. The port is read again when the first handle opens (so a test can move it between
 * runs), the connection made then and closed with the last handle.
 *
 * Wine 8 does not hand a device the rest of a path ("...}\PIPE00" fails with "not found"), so
 * each printer gets an object directory under that name holding two links, PIPE00 and PIPE01,
 * to a device of their own; the device a file was opened on tells the pipe.
 */
#include <ntddk.h>

/* Winsock, declared here: its headers do not mix with the kernel's. */
typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)~0)
#define SOCKET_ERROR (-1)
#define VX_AF_INET 2
#define VX_SOCK_STREAM 1
#define VX_IPPROTO_TCP 6
#define VX_TCP_NODELAY 1
#define VX_FD_SETSIZE 1
typedef struct {
    USHORT sin_family;
    UCHAR sin_port[2]; /* network order */
    UCHAR sin_addr[4];
    char sin_zero[8];
} vx_sockaddr_in;
typedef struct {
    unsigned int fd_count;
    SOCKET fd_array[VX_FD_SETSIZE];
} vx_fd_set;
typedef struct {
    LONG tv_sec;
    LONG tv_usec;
} vx_timeval;
typedef struct {
    USHORT wVersion;
    USHORT wHighVersion;
    USHORT iMaxSockets;
    USHORT iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[257];
    char szSystemStatus[129];
} vx_wsadata;
__declspec(dllimport) int __stdcall WSAStartup(USHORT version, vx_wsadata* data);
__declspec(dllimport) int __stdcall WSACleanup(void);
__declspec(dllimport) SOCKET __stdcall socket(int af, int type, int protocol);
__declspec(dllimport) int __stdcall connect(SOCKET s, const void* addr, int len);
__declspec(dllimport) int __stdcall send(SOCKET s, const char* buf, int len, int flags);
__declspec(dllimport) int __stdcall recv(SOCKET s, char* buf, int len, int flags);
__declspec(dllimport) int __stdcall select(int n, vx_fd_set* r, vx_fd_set* w, vx_fd_set* e,
                                           const vx_timeval* timeout);
__declspec(dllimport) int __stdcall closesocket(SOCKET s);
__declspec(dllimport) int __stdcall setsockopt(SOCKET s, int level, int name, const char* value,
                                               int len);

#define MAX_PRINTERS 4
#define IN_BUFFER 65536
enum { PIPE_WRITE, PIPE_READ, PIPES };

typedef struct {
    WCHAR name[160];  /* \??\ and the device path */
    HANDLE directory; /* holds the PIPE00 and PIPE01 links */
    PDEVICE_OBJECT pipes[PIPES];
    SOCKET sock;
    LONG opens;          /* handles open on the device */
    volatile LONG stop;  /* asks the reader thread to end */
    volatile LONG ended; /* the reader thread has ended */
    BOOLEAN connected;   /* false once printer-sim went away */
    LIST_ENTRY reads;    /* pending reads, guarded by the cancel spin lock */
    ULONG have;          /* bytes from the printer not yet read, guarded likewise */
    UCHAR in[IN_BUFFER];
    char scratch[4096]; /* the reader thread's own */
} Printer;

typedef struct {
    Printer* printer;
    int pipe;
} Pipe;

static Printer g_printers[MAX_PRINTERS];
static WCHAR g_parameters[512]; /* the service's Parameters key */
static ULONG g_count;

static Printer* printer_of(PDEVICE_OBJECT device) {
    return ((Pipe*)device->DeviceExtension)->printer;
}

static int pipe_of(PDEVICE_OBJECT device) {
    return ((Pipe*)device->DeviceExtension)->pipe;
}

static NTSTATUS finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void sleep_ms(LONG ms) {
    LARGE_INTEGER delay;
    delay.QuadPart = -10000LL * ms;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
}

/* Hands buffered bytes to pending reads; called with the cancel spin lock held, which it
 * releases. Completes the reads outside the lock. */
static void serve_reads_and_release(Printer* p, KIRQL irql, NTSTATUS gone) {
    LIST_ENTRY done;
    InitializeListHead(&done);
    while (!IsListEmpty(&p->reads) && (p->have > 0 || !p->connected)) {
        PIRP irp = CONTAINING_RECORD(p->reads.Flink, IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL) == NULL)
            break; /* being cancelled: the cancel routine takes it off the list */
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        ULONG want = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
        ULONG n = want < p->have ? want : p->have;
        if (n > 0) {
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, p->in, n);
            RtlMoveMemory(p->in, p->in + n, p->have - n);
            p->have -= n;
            irp->IoStatus.Status = STATUS_SUCCESS;
        } else {
            irp->IoStatus.Status = gone;
        }
        irp->IoStatus.Information = n;
        InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
    }
    IoReleaseCancelSpinLock(irql);
    while (!IsListEmpty(&done)) {
        PLIST_ENTRY e = RemoveHeadList(&done);
        IoCompleteRequest(CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry), IO_NO_INCREMENT);
    }
}

static void reader(PVOID context) {
    Printer* p = (Printer*)context;
    while (!p->stop) {
        vx_fd_set ready = {1, {p->sock}};
        vx_timeval wait = {0, 50000};
        int r = select(0, &ready, NULL, NULL, &wait);
        if (r == 0)
            continue;
        KIRQL irql;
        ULONG room;
        IoAcquireCancelSpinLock(&irql);
        room = IN_BUFFER - p->have;
        IoReleaseCancelSpinLock(irql);
        if (r > 0 && room == 0) {
            sleep_ms(1); /* nobody reads: leave the bytes with the printer */
            continue;
        }
        int got = r < 0 ? -1
                        : recv(p->sock, p->scratch,
                               room < sizeof p->scratch ? (int)room : (int)sizeof p->scratch, 0);
        IoAcquireCancelSpinLock(&irql);
        if (got > 0) {
            RtlCopyMemory(p->in + p->have, p->scratch, (ULONG)got);
            p->have += (ULONG)got;
        } else {
            p->connected = FALSE;
        }
        serve_reads_and_release(p, irql, STATUS_DEVICE_NOT_CONNECTED);
        if (got <= 0)
            break;
    }
    InterlockedExchange(&p->ended, 1);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

static void cancel_read(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    finish(irp, STATUS_CANCELLED, 0);
}

static HANDLE open_parameters(void) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, g_parameters);
    OBJECT_ATTRIBUTES attr;
    InitializeObjectAttributes(&attr, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    HANDLE key;
    return NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attr)) ? key : NULL;
}

/* The printer's TCP port as the Parameters key holds it now; 0 when it has none. */
static USHORT printer_port(const Printer* p) {
    HANDLE key = open_parameters();
    if (key == NULL)
        return 0;
    UNICODE_STRING value;
    RtlInitUnicodeString(&value, p->name + 4);
    ULONG buffer[16];
    ULONG size = 0;
    USHORT port = 0;
    if (NT_SUCCESS(ZwQueryValueKey(key, &value, KeyValuePartialInformation, buffer, sizeof buffer,
                                   &size))) {
        const KEY_VALUE_PARTIAL_INFORMATION* v = (const KEY_VALUE_PARTIAL_INFORMATION*)buffer;
        if (v->Type == REG_DWORD && v->DataLength == 4 && *(const ULONG*)v->Data <= 0xFFFF)
            port = (USHORT) * (const ULONG*)v->Data;
    }
    ZwClose(key);
    return port;
}

static NTSTATUS printer_connect(Printer* p) {
    const USHORT port = printer_port(p);
    if (port == 0)
        return STATUS_DEVICE_NOT_CONNECTED;
    vx_sockaddr_in addr;
    RtlZeroMemory(&addr, sizeof addr);
    addr.sin_family = VX_AF_INET;
    addr.sin_port[0] = (UCHAR)(port >> 8);
    addr.sin_port[1] = (UCHAR)port;
    addr.sin_addr[0] = 127;
    addr.sin_addr[3] = 1;
    p->sock = socket(VX_AF_INET, VX_SOCK_STREAM, 0);
    if (p->sock == INVALID_SOCKET)
        return STATUS_INSUFFICIENT_RESOURCES;
    const int on = 1; /* each pipe write goes out at once, as a USB transfer would */
    if (connect(p->sock, &addr, sizeof addr) == SOCKET_ERROR ||
        setsockopt(p->sock, VX_IPPROTO_TCP, VX_TCP_NODELAY, (const char*)&on, sizeof on) != 0) {
        closesocket(p->sock);
        p->sock = INVALID_SOCKET;
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    p->have = 0;
    p->connected = TRUE;
    p->stop = 0;
    p->ended = 0;
    HANDLE thread;
    if (!NT_SUCCESS(
            PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, reader, p))) {
        closesocket(p->sock);
        p->sock = INVALID_SOCKET;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ZwClose(thread);
    return STATUS_SUCCESS;
}

static void printer_disconnect(Printer* p) {
    if (p->sock == INVALID_SOCKET)
        return;
    InterlockedExchange(&p->stop, 1);
    while (!p->ended)
        sleep_ms(5);
    closesocket(p->sock);
    p->sock = INVALID_SOCKET;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    p->connected = FALSE;
    p->have = 0;
    serve_reads_and_release(p, irql, STATUS_DEVICE_NOT_CONNECTED);
}

static NTSTATUS on_create(PDEVICE_OBJECT device, PIRP irp) {
    Printer* p = printer_of(device);
    if (IoGetCurrentIrpStackLocation(irp)->FileObject->FileName.Length != 0)
        return finish(irp, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    if (p->opens == 0) {
        NTSTATUS status = printer_connect(p);
        if (!NT_SUCCESS(status))
            return finish(irp, status, 0);
    }
    ++p->opens;
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS on_cleanup(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    return finish(irp, STATUS_SUCCESS, 0);
}

/* Open handles are counted down on IRP_MJ_CLOSE, which every handle gets: under Wine 8 a
 * count kept on IRP_MJ_CLEANUP never came back to zero, so the next run found the old
 * connection. */
static NTSTATUS on_close(PDEVICE_OBJECT device, PIRP irp) {
    Printer* p = printer_of(device);
    if (p->opens > 0 && --p->opens == 0)
        printer_disconnect(p);
    return finish(irp, STATUS_SUCCESS, 0);
}

/* out = a followed by b; out holds 170 characters. */
static void join(WCHAR* out, const WCHAR* a, const WCHAR* b) {
    ULONG n = 0;
    while (*a && n < 169)
        out[n++] = *a++;
    while (*b && n < 169)
        out[n++] = *b++;
    out[n] = 0;
}

static BOOLEAN send_all(SOCKET s, const char* data, ULONG n) {
    while (n > 0) {
        int w = send(s, data, n > 0x10000 ? 0x10000 : (int)n, 0);
        if (w <= 0)
            return FALSE;
        data += w;
        n -= (ULONG)w;
    }
    return TRUE;
}

static NTSTATUS on_write(PDEVICE_OBJECT device, PIRP irp) {
    Printer* p = printer_of(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (pipe_of(device) != PIPE_WRITE)
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    ULONG n = sp->Parameters.Write.Length;
    UCHAR header[4] = {(UCHAR)n, (UCHAR)(n >> 8), (UCHAR)(n >> 16), (UCHAR)(n >> 24)};
    if (!p->connected || !send_all(p->sock, (const char*)header, sizeof header) ||
        !send_all(p->sock, (const char*)irp->AssociatedIrp.SystemBuffer, n))
        return finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    return finish(irp, STATUS_SUCCESS, n);
}

static NTSTATUS on_read(PDEVICE_OBJECT device, PIRP irp) {
    Printer* p = printer_of(device);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (pipe_of(device) != PIPE_READ)
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (sp->Parameters.Read.Length == 0)
        return finish(irp, STATUS_SUCCESS, 0);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    IoMarkIrpPending(irp);
    InsertTailList(&p->reads, &irp->Tail.Overlay.ListEntry);
    IoSetCancelRoutine(irp, cancel_read);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        IoReleaseCancelSpinLock(irql);
        finish(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    serve_reads_and_release(p, irql, STATUS_DEVICE_NOT_CONNECTED);
    return STATUS_PENDING;
}

static void remove_printer(Printer* p) {
    for (int i = 0; i < PIPES; ++i) {
        if (p->pipes[i] == NULL)
            continue;
        WCHAR link[170];
        UNICODE_STRING name;
        join(link, p->name, i == PIPE_WRITE ? L"\\PIPE00" : L"\\PIPE01");
        RtlInitUnicodeString(&name, link);
        IoDeleteSymbolicLink(&name);
        IoDeleteDevice(p->pipes[i]);
        p->pipes[i] = NULL;
    }
    if (p->directory != NULL) {
        ZwMakeTemporaryObject(p->directory);
        ZwClose(p->directory);
        p->directory = NULL;
    }
}

static void on_unload(PDRIVER_OBJECT driver) {
    (void)driver;
    for (ULONG i = 0; i < g_count; ++i) {
        printer_disconnect(&g_printers[i]);
        remove_printer(&g_printers[i]);
    }
    g_count = 0;
    WSACleanup();
}

static BOOLEAN add_pipe(PDRIVER_OBJECT driver, Printer* p, int pipe) {
    WCHAR device_name[] = L"\\Device\\VxUsbPrint0W";
    const ULONG last = sizeof device_name / sizeof(WCHAR) - 2;
    device_name[last - 1] = (WCHAR)(L'1' + g_count);
    device_name[last] = pipe == PIPE_WRITE ? L'W' : L'R';
    UNICODE_STRING dev;
    RtlInitUnicodeString(&dev, device_name);
    PDEVICE_OBJECT device;
    if (!NT_SUCCESS(
            IoCreateDevice(driver, sizeof(Pipe), &dev, FILE_DEVICE_UNKNOWN, 0, FALSE, &device)))
        return FALSE;
    device->Flags |= DO_BUFFERED_IO;
    ((Pipe*)device->DeviceExtension)->printer = p;
    ((Pipe*)device->DeviceExtension)->pipe = pipe;
    p->pipes[pipe] = device;
    WCHAR link[170];
    UNICODE_STRING name;
    join(link, p->name, pipe == PIPE_WRITE ? L"\\PIPE00" : L"\\PIPE01");
    RtlInitUnicodeString(&name, link);
    if (!NT_SUCCESS(IoCreateSymbolicLink(&name, &dev)))
        return FALSE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return TRUE;
}

/* One printer from a Parameters value; values that do not fit are skipped. */
static void add_printer(PDRIVER_OBJECT driver, const KEY_VALUE_FULL_INFORMATION* v, ULONG size) {
    if (g_count >= MAX_PRINTERS || v->Type != REG_DWORD ||
        v->NameLength > size - FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name))
        return;
    ULONG name_chars = v->NameLength / sizeof(WCHAR);
    if (name_chars == 0 || name_chars + 5 > 160)
        return;

    Printer* p = &g_printers[g_count];
    RtlZeroMemory(p, sizeof *p);
    p->sock = INVALID_SOCKET;
    InitializeListHead(&p->reads);
    RtlCopyMemory(p->name, L"\\??\\", 4 * sizeof(WCHAR));
    RtlCopyMemory(p->name + 4, v->Name, name_chars * sizeof(WCHAR));

    UNICODE_STRING dir_name;
    RtlInitUnicodeString(&dir_name, p->name);
    OBJECT_ATTRIBUTES attr;
    InitializeObjectAttributes(&attr, &dir_name, OBJ_CASE_INSENSITIVE | OBJ_PERMANENT, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateDirectoryObject(&p->directory, DIRECTORY_ALL_ACCESS, &attr))) {
        p->directory = NULL;
        return;
    }
    if (!add_pipe(driver, p, PIPE_WRITE) || !add_pipe(driver, p, PIPE_READ)) {
        remove_printer(p);
        return;
    }
    ++g_count;
}

static void read_parameters(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    static const WCHAR suffix[] = L"\\Parameters";
    const ULONG base = registry_path->Length / sizeof(WCHAR);
    if (base + sizeof suffix / sizeof(WCHAR) > sizeof g_parameters / sizeof(WCHAR))
        return;
    RtlCopyMemory(g_parameters, registry_path->Buffer, registry_path->Length);
    RtlCopyMemory(g_parameters + base, suffix, sizeof suffix);
    HANDLE key = open_parameters();
    if (key == NULL)
        return;
    static ULONG buffer[1024];
    for (ULONG i = 0;; ++i) {
        ULONG size = 0;
        NTSTATUS s =
            ZwEnumerateValueKey(key, i, KeyValueFullInformation, buffer, sizeof buffer, &size);
        if (s == STATUS_NO_MORE_ENTRIES)
            break;
        if (NT_SUCCESS(s))
            add_printer(driver, (const KEY_VALUE_FULL_INFORMATION*)buffer, size);
    }
    ZwClose(key);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    vx_wsadata wsa;
    if (WSAStartup(0x0202, &wsa) != 0)
        return STATUS_UNSUCCESSFUL;
    driver->MajorFunction[IRP_MJ_CREATE] = on_create;
    driver->MajorFunction[IRP_MJ_CLEANUP] = on_cleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = on_close;
    driver->MajorFunction[IRP_MJ_WRITE] = on_write;
    driver->MajorFunction[IRP_MJ_READ] = on_read;
    driver->DriverUnload = on_unload;
    read_parameters(driver, registry_path);
    if (g_count == 0) {
        WSACleanup();
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }
    return STATUS_SUCCESS;
}
