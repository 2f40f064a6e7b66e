/* The simulated controllers behind the test HID minidriver, in a DLL of their own so that the C++
 * runtime is started by the loader; the driver itself imports nothing else of user mode.
 * Return values are NTSTATUS codes. Not part of the product. */
#ifndef QAVEL_SIM_DEVICE_H
#define QAVEL_SIM_DEVICE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Device `index` of the scenario file `scenario` (a Windows path), transfers logged to
 * `transcript` (empty: none). Every device of the process shares one simulator, made on the first
 * call; a later call naming another scenario fails. */
int32_t QavelSimDeviceStart(const uint16_t* scenario, const uint16_t* transcript, uint32_t index);

/* The device's report descriptor: its length, copied into buffer when size allows; 0 if unknown. */
uint32_t QavelSimDeviceDescriptor(uint32_t index, uint8_t* buffer, uint32_t size);

int32_t QavelSimDeviceIds(uint32_t index, uint16_t* vendor, uint16_t* product);

/* One feature transfer as the class driver hands it down: buffer[0] is the report id, length the
 * buffer's. A get below the collection's FeatureReportByteLength is refused, as Windows does; the
 * controller sees only the report's own length. *done: bytes transferred. */
int32_t QavelSimDeviceGetFeature(uint32_t index, uint8_t* buffer, uint32_t length, uint32_t* done);
int32_t QavelSimDeviceSetFeature(uint32_t index, const uint8_t* buffer, uint32_t length,
                                 uint32_t* done);

#ifdef __cplusplus
}
#endif

#endif
