/* The simulated controllers behind the test HID minidriver, in a DLL of their own so that the C++
 * runtime is started by the loader; the driver itself imports nothing else of user mode.
 * Return values are NTSTATUS codes. Not part of the product. */
#ifndef QAVEL_SIM_DEVICE_H
#define QAVEL_SIM_DEVICE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Starts device `index` of the scenario file `scenario` (a Windows path), transfers logged to
 * `transcript` (empty: none), and gives it a slot for the calls below. `collection` >= 0 presents
 * only that top-level collection of the device's descriptor, -1 all of it. The devices started
 * share one simulator, made by the first start; a start naming another scenario while any device
 * is started fails. */
int32_t QavelSimDeviceStart(const uint16_t* scenario, const uint16_t* transcript, uint32_t index,
                            int32_t collection, uint32_t* slot);

/* Ends one started slot; the last one ends the simulator and closes the transcript. */
void QavelSimDeviceStop(uint32_t slot);

/* The slot's report descriptor: its length, copied into buffer when size allows; 0 if unknown. */
uint32_t QavelSimDeviceDescriptor(uint32_t slot, uint8_t* buffer, uint32_t size);

int32_t QavelSimDeviceIds(uint32_t slot, uint16_t* vendor, uint16_t* product);

/* One feature transfer as the class driver hands it down: buffer[0] is the report id, length the
 * buffer's. A get below the collection's FeatureReportByteLength is refused, as Windows does; the
 * controller sees only the report's own length. *done: bytes transferred. */
int32_t QavelSimDeviceGetFeature(uint32_t slot, uint8_t* buffer, uint32_t length, uint32_t* done);
int32_t QavelSimDeviceSetFeature(uint32_t slot, const uint8_t* buffer, uint32_t length,
                                 uint32_t* done);

#ifdef __cplusplus
}
#endif

#endif
