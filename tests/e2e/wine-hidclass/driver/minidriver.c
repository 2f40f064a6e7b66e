/* Test HID minidriver: root-enumerated devices presented to the HID class driver with the
 * simulated controller's descriptor, identifiers and feature reports. Where a device comes from
 * (scenario, transcript, device index, and for a composite device which collection) is in its
 * "Device Parameters" key, written by the installer. Not part of the product. */

#include <ddk/wdm.h>
#include <hidusage.h>
#include <ddk/hidclass.h>

#include "sim_device.h"

/* mingw-w64's hidclass.h gives these internal codes placeholder values; the class driver uses
 * the documented ones. */
#undef IOCTL_HID_GET_STRING
#undef IOCTL_HID_GET_DEVICE_ATTRIBUTES
#undef IOCTL_HID_GET_DEVICE_DESCRIPTOR
#undef IOCTL_HID_READ_REPORT
#undef IOCTL_HID_WRITE_REPORT
#undef IOCTL_HID_GET_REPORT_DESCRIPTOR
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define IOCTL_HID_READ_REPORT HID_CTL_CODE(2)
#define IOCTL_HID_WRITE_REPORT HID_CTL_CODE(3)
#define IOCTL_HID_GET_STRING HID_CTL_CODE(4)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)

/* The string ids of IOCTL_HID_GET_STRING: Windows' hidport.h numbers them 14 to 16 (where their
 * indexes lie in a USB device descriptor); Wine's class driver asks by its own numbering, 1 to 3,
 * as mingw-w64's enumeration has it. */
#define STRING_ID_MANUFACTURER 14
#define STRING_ID_PRODUCT 15
#define STRING_ID_SERIAL_NUMBER 16
#define WINE_STRING_ID_OFFSET (STRING_ID_MANUFACTURER - HID_STRING_ID_IMANUFACTURER)

/* The minidriver interface of the class driver (hidport.h, which mingw-w64 does not ship). */
typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    struct {
        UCHAR bReportType;
        USHORT wReportLength;
    } DescriptorList[1];
} HID_DESCRIPTOR;
#pragma pack(pop)

#define HID_HID_DESCRIPTOR_TYPE 0x21
#define HID_REPORT_DESCRIPTOR_TYPE 0x22

struct SimHidDevice {
    uint32_t slot;
    BOOLEAN started; /* holds one start of the simulator */
    BOOLEAN removed;
    KSPIN_LOCK lock;
    LIST_ENTRY pendingReads; /* input reads never complete: the controller sends no input */
};

static struct SimHidDevice* DeviceOf(DEVICE_OBJECT* device)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    return (struct SimHidDevice*)ext->MiniDeviceExtension;
}

static void CompletePendingReads(struct SimHidDevice* impl)
{
    for (;;) {
        KIRQL irql;
        IRP* irp = NULL;
        KeAcquireSpinLock(&impl->lock, &irql);
        if (!IsListEmpty(&impl->pendingReads)) {
            irp =
                CONTAINING_RECORD(RemoveHeadList(&impl->pendingReads), IRP, Tail.Overlay.ListEntry);
        }
        KeReleaseSpinLock(&impl->lock, irql);
        if (irp == NULL) {
            return;
        }
        irp->IoStatus.Status = STATUS_DELETE_PENDING;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

static void SetRemoved(struct SimHidDevice* impl, BOOLEAN removed)
{
    KIRQL irql;
    KeAcquireSpinLock(&impl->lock, &irql);
    impl->removed = removed;
    KeReleaseSpinLock(&impl->lock, irql);
}

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* device, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    struct SimHidDevice* impl = DeviceOf(device);

    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        SetRemoved(impl, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
        SetRemoved(impl, TRUE);
        CompletePendingReads(impl);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        SetRemoved(impl, TRUE);
        CompletePendingReads(impl);
        if (impl->started) {
            impl->started = FALSE;
            QavelSimDeviceStop(impl->slot);
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_STOP_DEVICE: irp->IoStatus.Status = STATUS_SUCCESS; break;
    default: break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->NextDeviceObject, irp);
}

static NTSTATUS NTAPI DispatchPower(DEVICE_OBJECT* device, IRP* irp)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->NextDeviceObject, irp);
}

/* The class driver hands the transfer packet over as the request's user buffer. */
static HID_XFER_PACKET* PacketOf(IRP* irp, IO_STACK_LOCATION* stack)
{
    if (irp->UserBuffer != NULL) {
        return (HID_XFER_PACKET*)irp->UserBuffer;
    }
    return (HID_XFER_PACKET*)stack->Parameters.DeviceIoControl.Type3InputBuffer;
}

/* One of the device's strings, by the id in the low word of value (the high word is the
 * language, which changes nothing here): the serial number is the device's slot, so that each
 * device has its own. Nothing is written into a buffer too small for the whole string. */
static NTSTATUS GetString(const struct SimHidDevice* impl, ULONG value, WCHAR* buffer, ULONG size,
                          ULONG_PTR* written)
{
    static const WCHAR manufacturer[] = L"Qavel tests";
    static const WCHAR product[] = L"Simulated touch controller";
    WCHAR serial[] = L"0000";
    const WCHAR* text;
    ULONG length;

    ULONG id = value & 0xFFFF;

    if (id >= HID_STRING_ID_IMANUFACTURER && id <= HID_STRING_ID_ISERIALNUMBER) {
        id += WINE_STRING_ID_OFFSET;
    }
    switch (id) {
    case STRING_ID_MANUFACTURER: text = manufacturer; length = sizeof(manufacturer); break;
    case STRING_ID_PRODUCT: text = product; length = sizeof(product); break;
    case STRING_ID_SERIAL_NUMBER:
        for (int i = 3, rest = (int)(impl->slot % 10000); i >= 0; --i, rest /= 10) {
            serial[i] = (WCHAR)(L'0' + rest % 10);
        }
        text = serial;
        length = sizeof(serial);
        break;
    default: return STATUS_INVALID_PARAMETER;
    }
    if (buffer == NULL || size < length) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlCopyMemory(buffer, text, length);
    *written = length;
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchInternalIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct SimHidDevice* impl = DeviceOf(device);
    const ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    NTSTATUS status = STATUS_NOT_IMPLEMENTED;
    BOOLEAN removed;
    KIRQL irql;

    irp->IoStatus.Information = 0;
    KeAcquireSpinLock(&impl->lock, &irql);
    removed = impl->removed;
    KeReleaseSpinLock(&impl->lock, irql);
    if (removed) {
        irp->IoStatus.Status = STATUS_DELETE_PENDING;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_DELETE_PENDING;
    }

    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
        HID_DESCRIPTOR* descriptor = (HID_DESCRIPTOR*)irp->UserBuffer;
        const uint32_t length = QavelSimDeviceDescriptor(impl->slot, NULL, 0);
        if (descriptor == NULL || outSize < sizeof(*descriptor)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        RtlZeroMemory(descriptor, sizeof(*descriptor));
        descriptor->bLength = sizeof(*descriptor);
        descriptor->bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
        descriptor->bcdHID = 0x0111;
        descriptor->bNumDescriptors = 1;
        descriptor->DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
        descriptor->DescriptorList[0].wReportLength = (USHORT)length;
        irp->IoStatus.Information = sizeof(*descriptor);
        status = length != 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
        break;
    }
    case IOCTL_HID_GET_REPORT_DESCRIPTOR: {
        const uint32_t length =
            QavelSimDeviceDescriptor(impl->slot, (uint8_t*)irp->UserBuffer, outSize);
        if (length == 0 || length > outSize || irp->UserBuffer == NULL) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        irp->IoStatus.Information = length;
        status = STATUS_SUCCESS;
        break;
    }
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
        HID_DEVICE_ATTRIBUTES* attributes = (HID_DEVICE_ATTRIBUTES*)irp->UserBuffer;
        uint16_t vendor = 0;
        uint16_t product = 0;
        if (attributes == NULL || outSize < sizeof(*attributes)) {
            status = STATUS_BUFFER_TOO_SMALL;
            break;
        }
        status = QavelSimDeviceIds(impl->slot, &vendor, &product);
        if (status != STATUS_SUCCESS) {
            break;
        }
        RtlZeroMemory(attributes, sizeof(*attributes));
        attributes->Size = sizeof(*attributes);
        attributes->VendorID = vendor;
        attributes->ProductID = product;
        attributes->VersionNumber = 0x0100;
        irp->IoStatus.Information = sizeof(*attributes);
        break;
    }
    case IOCTL_HID_GET_STRING:
        /* Wine 10's class driver reads the serial number when it starts the device and gives
         * the device up when that fails. */
        status = GetString(impl, (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer,
                           (WCHAR*)irp->UserBuffer, outSize, &irp->IoStatus.Information);
        break;
    case IOCTL_HID_READ_REPORT:
        IoMarkIrpPending(irp);
        KeAcquireSpinLock(&impl->lock, &irql);
        InsertTailList(&impl->pendingReads, &irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&impl->lock, irql);
        return STATUS_PENDING;
    case IOCTL_HID_GET_FEATURE:
    case IOCTL_HID_SET_FEATURE: {
        HID_XFER_PACKET* packet = PacketOf(irp, stack);
        uint32_t done = 0;
        if (packet == NULL || packet->reportBuffer == NULL) {
            status = STATUS_INVALID_USER_BUFFER;
            break;
        }
        if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_HID_GET_FEATURE) {
            status = QavelSimDeviceGetFeature(impl->slot, packet->reportBuffer,
                                              packet->reportBufferLen, &done);
        } else {
            status = QavelSimDeviceSetFeature(impl->slot, packet->reportBuffer,
                                              packet->reportBufferLen, &done);
        }
        irp->IoStatus.Information = done;
        break;
    }
    default:
        /* Input and output reports: the controller has none the program uses. */
        status = STATUS_NOT_IMPLEMENTED;
        break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* Copies one value of the device's parameters into buffer; a string keeps room for its end. */
static NTSTATUS ReadParameter(HANDLE key, const WCHAR* name, void* buffer, ULONG size,
                              BOOLEAN string)
{
    UCHAR raw[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 1024];
    KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)raw;
    const ULONG room = string ? size - sizeof(WCHAR) : size;
    UNICODE_STRING valueName;
    ULONG length = 0;
    NTSTATUS status;

    RtlInitUnicodeString(&valueName, name);
    status =
        ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof(raw), &length);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    if (info->DataLength > room || (!string && info->DataLength != size)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    RtlZeroMemory(buffer, size);
    RtlCopyMemory(buffer, info->Data, info->DataLength);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo)
{
    HID_DEVICE_EXTENSION* ext = (HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
    struct SimHidDevice* impl = (struct SimHidDevice*)ext->MiniDeviceExtension;
    WCHAR scenario[260];
    WCHAR transcript[260];
    ULONG index = 0;
    LONG collection = -1; /* absent: the whole descriptor */
    uint32_t slot = 0;
    HANDLE key = NULL;
    NTSTATUS status;

    (void)driver;
    status =
        IoOpenDeviceRegistryKey(ext->PhysicalDeviceObject, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    status = ReadParameter(key, L"Scenario", scenario, sizeof(scenario), TRUE);
    if (status == STATUS_SUCCESS) {
        status = ReadParameter(key, L"Index", &index, sizeof(index), FALSE);
    }
    if (status == STATUS_SUCCESS &&
        ReadParameter(key, L"Transcript", transcript, sizeof(transcript), TRUE) != STATUS_SUCCESS) {
        transcript[0] = 0;
    }
    if (status == STATUS_SUCCESS && ReadParameter(key, L"Collection", &collection,
                                                  sizeof(collection), FALSE) != STATUS_SUCCESS) {
        collection = -1;
    }
    ZwClose(key);
    if (status != STATUS_SUCCESS) {
        return status;
    }
    status = QavelSimDeviceStart(scenario, transcript, index, collection, &slot);
    if (status != STATUS_SUCCESS) {
        return status;
    }

    impl->slot = slot;
    impl->started = TRUE;
    impl->removed = FALSE;
    KeInitializeSpinLock(&impl->lock);
    InitializeListHead(&impl->pendingReads);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry)
{
    HID_MINIDRIVER_REGISTRATION registration;

    RtlZeroMemory(&registration, sizeof(registration));
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registry;
    registration.DeviceExtensionSize = sizeof(struct SimHidDevice);
    registration.DevicesArePolled = FALSE;

    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalIoctl;
    return HidRegisterMinidriver(&registration);
}
