/* The program's string table, in the one place that both the resource script and the code read. */
#ifndef QAVEL_STRINGS_H
#define QAVEL_STRINGS_H

#define IDS_CAPTION 1001
#define IDS_USER_ABORT 1003
#define IDS_CANNOT_OPEN_DRIVER 1004
#define IDS_CANNOT_START 1005
#define IDS_CANNOT_WRITE 1006
#define IDS_INVALID_TOUCH 1007
#define IDS_SUCCESS 1008
#define IDS_NO_CONTROLLER 1009

#define TEXT_CAPTION "Calibration"
#define TEXT_USER_ABORT "Calibration terminated by user."
#define TEXT_CANNOT_OPEN_DRIVER "Cannot open touch screen driver."
#define TEXT_CANNOT_START "Cannot start calibration."
#define TEXT_CANNOT_WRITE "Cannot write to touch screen controller."
#define TEXT_INVALID_TOUCH "Invalid touch."
#define TEXT_SUCCESS "Calibration completed successfully."
#define TEXT_NO_CONTROLLER "Cannot find Qavel touch controller."

#define NOTICE_CAPTION "HID CALIBRATION WARNING"
#define NOTICE_TEXT "Saving data - please do not touch the screen"

#ifndef RC_INVOKED
#include <cstdint>
// Text of string `id` from the table, or null when the table has no such string.
const char* FindTableString(std::uint32_t id);
#endif

#endif
