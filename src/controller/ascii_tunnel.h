#pragma once
// ASCII commands and replies of model 0x0300, framed 0x01 ... 0x0D inside feature report 9.

#include <cstdint>

#include "controller/session.h"

// The newest frame read; later frames overwrite it from the first byte on.
extern std::uint8_t asciiReplyBuffer[256];

// The first frame in a read report 9, copied with a zero byte after it into out (which holds
// capacity bytes). False for a report to ignore or without a frame.
bool ExtractAsciiFrame(const std::uint8_t report[64], std::uint32_t capacity, std::uint8_t* out);

// Searches a reply buffer for a frame around a body of bodyLength bytes; the last match wins and
// is copied to body with a zero byte after it.
bool FindReplyBody(const std::uint8_t* buffer, std::uint32_t size, std::uint32_t bodyLength,
                   std::uint8_t* body);

// Sends length bytes in chunks of at most 56, one report 9 each; false at the first failure.
bool SendAsciiCommand(ControllerSession* session, const std::uint8_t* data, std::uint32_t length);

// Polls report 9 for a frame until the whole-second limit passes or the user aborts.
bool ReadAsciiReply(ControllerSession* session, std::uint8_t* out, std::uint32_t capacity,
                    std::uint32_t timeoutMs);

// Sends the zero-terminated command and searches the reply for a body of replyLength bytes.
bool ExchangeAsciiCommand(ControllerSession* session, const char* command, std::uint8_t* reply,
                          std::uint32_t replyLength, std::uint32_t timeoutMs);

// Waits for a frame that starts the buffer and has a body of exactly length bytes.
bool ReadAsciiMessage(ControllerSession* session, std::uint8_t* out, std::uint32_t length,
                      std::uint32_t timeoutMs);

// "CX" answered "0" within 120 s.
bool StartAsciiCalibration(ControllerSession* session);

// The message "1" within 20 s; on failure the controller is told to save first.
bool WaitAsciiTouch(ControllerSession* session);

// "R" under the "do not touch" notice, then a 1 s pause.
void FinishAsciiCalibration(ControllerSession* session);
