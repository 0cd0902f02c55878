/*
 * The simulated BIOS: a kernel-mode driver that creates \Device\ZVKACPI (DOS name ZVKACPI)
 * and answers the agent's "DSTS" and "DEVS" requests the way the notebook's ACPI driver
 * and BIOS do. It runs in Wine's driver host (winedevice.exe) as the kernel service
 * ZvkAcpiSim, so the agent's real CreateFileW/DeviceIoControl path is exercised unchanged.
 *
 * Everything it answers is read from its service key's Parameters subkey at every request,
 * so a test changes the BIOS by writing a registry value, without restarting the driver.
 * Every request it receives is recorded there too (see simbios_control.h for the layout).
 *
 * Built without a C runtime: only ntoskrnl is imported, and nothing here needs more than
 * the registry, a mutex and IRP completion.
 */
#include <ntddk.h>

#define ACPI_CONTROL_CODE 0x0022240CUL
#define METHOD_DSTS 0x53545344UL /* "DSTS" */
#define METHOD_DEVS 0x53564544UL /* "DEVS" */
#define OVERDRIVE_DEVICE 0x00050019UL
#define PANEL_SUPPORT_DEVICE 0x00050020UL
#define REENUMERATE_DEVICE 0x00090016UL
#define ANSWER_OVERDRIVE_ON 0x00010001UL
#define ANSWER_OVERDRIVE_OFF 0x00010000UL
#define ANSWER_STATE_SET 1UL

#define RECORD_SLOTS 256UL
#define RECORD_MAX_REQUEST_BYTES 64UL
#define REPLY_MAX_BYTES 64UL
#define KEY_PATH_CHARS 512

static PDEVICE_OBJECT simDevice;
static UNICODE_STRING dosName;
static KMUTEX requestMutex;
static WCHAR parametersPathBuffer[KEY_PATH_CHARS];
static UNICODE_STRING parametersPath;

static ULONG ReadWord(const UCHAR* at) {
    return (ULONG)at[0] | (ULONG)at[1] << 8 | (ULONG)at[2] << 16 | (ULONG)at[3] << 24;
}

static HANDLE OpenParametersKey(void) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key = NULL;
    ULONG disposition = 0;
    InitializeObjectAttributes(&attributes, &parametersPath,
                               OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes, 0, NULL,
                                REG_OPTION_NON_VOLATILE, &disposition))) {
        return NULL;
    }
    return key;
}

/* A missing or malformed value reads as the fallback. */
static ULONG QueryDword(HANDLE key, PCWSTR name, ULONG fallback, BOOLEAN* present) {
    UNICODE_STRING valueName;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    PKEY_VALUE_PARTIAL_INFORMATION info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
    ULONG resultLength = 0;
    if (present != NULL) {
        *present = FALSE;
    }
    if (key == NULL) {
        return fallback;
    }
    RtlInitUnicodeString(&valueName, name);
    if (!NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer,
                                    sizeof(buffer), &resultLength)) ||
        info->Type != REG_DWORD || info->DataLength != sizeof(ULONG)) {
        return fallback;
    }
    if (present != NULL) {
        *present = TRUE;
    }
    return ReadWord(info->Data);
}

static void SetDword(HANDLE key, PCWSTR name, ULONG value) {
    UNICODE_STRING valueName;
    if (key == NULL) {
        return;
    }
    RtlInitUnicodeString(&valueName, name);
    (void)ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
}

/* "Request" followed by the slot number in decimal. */
static void MakeSlotName(WCHAR* name, ULONG slot) {
    static const WCHAR prefix[] = L"Request";
    WCHAR digits[12];
    int count = 0;
    ULONG i;
    for (i = 0; prefix[i] != 0; ++i) {
        name[i] = prefix[i];
    }
    do {
        digits[count++] = (WCHAR)(L'0' + slot % 10);
        slot /= 10;
    } while (slot != 0);
    while (count > 0) {
        name[i++] = digits[--count];
    }
    name[i] = 0;
}

/* Keeps the last RECORD_SLOTS requests: slot = sequence number modulo RECORD_SLOTS. Each
 * record is the reply room the caller offered (one little-endian word) followed by the
 * request bytes as received. */
static void RecordRequest(HANDLE key, const UCHAR* request, ULONG requestLength, ULONG replyRoom) {
    UCHAR record[4 + RECORD_MAX_REQUEST_BYTES];
    WCHAR name[32];
    UNICODE_STRING valueName;
    ULONG kept =
        requestLength < RECORD_MAX_REQUEST_BYTES ? requestLength : RECORD_MAX_REQUEST_BYTES;
    ULONG count = QueryDword(key, L"RequestCount", 0, NULL);
    if (key == NULL) {
        return;
    }
    record[0] = (UCHAR)replyRoom;
    record[1] = (UCHAR)(replyRoom >> 8);
    record[2] = (UCHAR)(replyRoom >> 16);
    record[3] = (UCHAR)(replyRoom >> 24);
    RtlCopyMemory(record + 4, request, kept);
    MakeSlotName(name, count % RECORD_SLOTS);
    RtlInitUnicodeString(&valueName, name);
    (void)ZwSetValueKey(key, &valueName, 0, REG_BINARY, record, 4 + kept);
    SetDword(key, L"RequestCount", count + 1);
}

static NTSTATUS AnswerStatus(HANDLE key, ULONG device, ULONG* answer) {
    BOOLEAN overridden = FALSE;
    ULONG value;
    if (QueryDword(key, L"FailDSTS", 0, NULL) != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    switch (device) {
    case OVERDRIVE_DEVICE:
        value = QueryDword(key, L"ODStatusAnswer", 0, &overridden);
        if (!overridden) {
            value = QueryDword(key, L"ODState", 0, NULL) != 0 ? ANSWER_OVERDRIVE_ON
                                                              : ANSWER_OVERDRIVE_OFF;
        }
        *answer = value;
        break;
    case PANEL_SUPPORT_DEVICE:
        *answer = QueryDword(key, L"SupportAnswer", ANSWER_OVERDRIVE_ON, NULL);
        break;
    case REENUMERATE_DEVICE:
        *answer = QueryDword(key, L"ReenumerateAnswer", 0, NULL);
        break;
    default:
        *answer = 0; /* no such device: the presence bit is clear */
        break;
    }
    return STATUS_SUCCESS;
}

static NTSTATUS AnswerSetState(HANDLE key, ULONG device, ULONG state, ULONG* answer) {
    if (QueryDword(key, L"FailDEVS", 0, NULL) != 0) {
        return STATUS_UNSUCCESSFUL;
    }
    *answer =
        device == OVERDRIVE_DEVICE ? QueryDword(key, L"DEVSAnswer", ANSWER_STATE_SET, NULL) : 0;
    /* A BIOS that refuses (any answer but 1) leaves the state as it was. */
    if (*answer == ANSWER_STATE_SET) {
        SetDword(key, L"ODState", state != 0 ? 1 : 0);
    }
    return STATUS_SUCCESS;
}

static NTSTATUS HandleRequest(const UCHAR* request, ULONG requestLength, ULONG* answer) {
    HANDLE key = OpenParametersKey();
    NTSTATUS status = STATUS_INVALID_PARAMETER;
    ULONG method;
    ULONG argumentLength;
    if (requestLength >= 8) {
        method = ReadWord(request);
        argumentLength = ReadWord(request + 4);
        if (argumentLength <= requestLength - 8) {
            if (method == METHOD_DSTS && argumentLength >= 4) {
                status = AnswerStatus(key, ReadWord(request + 8), answer);
            } else if (method == METHOD_DEVS && argumentLength >= 8) {
                status = AnswerSetState(key, ReadWord(request + 8), ReadWord(request + 12), answer);
            }
        }
    }
    if (key != NULL) {
        ZwClose(key);
    }
    return status;
}

static NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Counts the handles open on the device, so a test can see a handle its code leaked. */
static void AdjustOpenHandles(BOOLEAN opened) {
    HANDLE key;
    ULONG count;
    KeWaitForSingleObject(&requestMutex, Executive, KernelMode, FALSE, NULL);
    key = OpenParametersKey();
    count = QueryDword(key, L"OpenHandles", 0, NULL);
    if (opened) {
        SetDword(key, L"OpenHandles", count + 1);
    } else if (count != 0) {
        SetDword(key, L"OpenHandles", count - 1);
    }
    if (key != NULL) {
        ZwClose(key);
    }
    KeReleaseMutex(&requestMutex, FALSE);
}

static NTSTATUS DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    AdjustOpenHandles(TRUE);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    AdjustOpenHandles(FALSE);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

/* A standard user's process is refused the notebook's ACPI device by the device's security.
 * Wine's driver host cannot refuse an open (it does not wait for the driver's answer to the
 * create request), so the double refuses the one process named by RefuseProcessId at every
 * request instead: each fails with access denied, never reaches the BIOS and is not recorded.
 * Every other process is served as before. */
static BOOLEAN RefusesRequestor(void) {
    HANDLE key = OpenParametersKey();
    BOOLEAN present = FALSE;
    ULONG refused = QueryDword(key, L"RefuseProcessId", 0, &present);
    if (key != NULL) {
        ZwClose(key);
    }
    return present && refused == (ULONG)(ULONG_PTR)PsGetCurrentProcessId();
}

static NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    ULONG requestLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG replyRoom = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR request[RECORD_MAX_REQUEST_BYTES];
    ULONG kept = requestLength < sizeof(request) ? requestLength : sizeof(request);
    ULONG answer = 0;
    ULONG replyLength;
    ULONG i;
    NTSTATUS status;
    HANDLE key;
    (void)device;

    if (stack->Parameters.DeviceIoControl.IoControlCode != ACPI_CONTROL_CODE) {
        return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (RefusesRequestor()) {
        return CompleteIrp(irp, STATUS_ACCESS_DENIED, 0);
    }
    if (buffer == NULL) {
        kept = 0;
    }
    /* Input and output share the system buffer: copy the request before answering. */
    if (kept != 0) {
        RtlCopyMemory(request, buffer, kept);
    }

    KeWaitForSingleObject(&requestMutex, Executive, KernelMode, FALSE, NULL);
    key = OpenParametersKey();
    RecordRequest(key, request, kept, replyRoom);
    replyLength = QueryDword(key, L"ReplyLength", 4, NULL);
    if (key != NULL) {
        ZwClose(key);
    }
    status = requestLength <= sizeof(request) ? HandleRequest(request, kept, &answer)
                                              : STATUS_INVALID_PARAMETER;
    KeReleaseMutex(&requestMutex, FALSE);

    if (!NT_SUCCESS(status)) {
        return CompleteIrp(irp, status, 0);
    }
    if (replyLength > replyRoom) {
        replyLength = replyRoom;
    }
    if (replyLength > REPLY_MAX_BYTES) {
        replyLength = REPLY_MAX_BYTES;
    }
    for (i = 0; i < replyLength; ++i) {
        buffer[i] = i < 4 ? (UCHAR)(answer >> (8 * i)) : 0;
    }
    return CompleteIrp(irp, STATUS_SUCCESS, replyLength);
}

static void DriverUnload(PDRIVER_OBJECT driver) {
    (void)driver;
    IoDeleteSymbolicLink(&dosName);
    IoDeleteDevice(simDevice);
}

NTSTATUS WINAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    static const WCHAR parametersSuffix[] = L"\\Parameters";
    UNICODE_STRING deviceName;
    NTSTATUS status;

    parametersPath.Buffer = parametersPathBuffer;
    parametersPath.Length = 0;
    parametersPath.MaximumLength = sizeof(parametersPathBuffer);
    status = RtlAppendUnicodeStringToString(&parametersPath, registryPath);
    if (NT_SUCCESS(status)) {
        status = RtlAppendUnicodeToString(&parametersPath, parametersSuffix);
    }
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KeInitializeMutex(&requestMutex, 0);

    RtlInitUnicodeString(&deviceName, L"\\Device\\ZVKACPI");
    RtlInitUnicodeString(&dosName, L"\\DosDevices\\ZVKACPI");
    status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &simDevice);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = IoCreateSymbolicLink(&dosName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(simDevice);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
