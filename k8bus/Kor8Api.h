#pragma once
// The message functions libkor8api.so exports by name with C linkage, for the controls and for
// outside callers that build bus messages themselves. A message is a type byte, a 16-bit
// big-endian parameter count and the parameters, each a 16-bit big-endian length and its bytes.
// The buffer belongs to the caller; each thread has one current message at a time.

#include <cstdint>

#define K8API_EXPORT __attribute__((visibility("default")))

extern "C" {

/// Starts a message of `type` in the caller's buffer (at least 3 bytes). Non-null on success.
K8API_EXPORT void* msgInit(unsigned char type, unsigned char* buffer, std::uint32_t capacity);
/// Stores one string parameter at `dest`, cut to room - 2; returns bytes written, 0 below 3 bytes of room.
K8API_EXPORT int msgStoreParam(unsigned char* dest, std::int32_t room, std::uint32_t length, const unsigned char* data);
/// Stores a parenthesised list "(a,b)" as an array parameter; bytes written, -1 malformed, -2 no room.
K8API_EXPORT int msgStoreArrayParam(unsigned char* dest, std::int32_t room, std::uint32_t length, const char* text,
                                    char separator);
/// Appends a string parameter to the current message; 1 while room is left, else 0.
K8API_EXPORT int msgSetParam(std::uint32_t length, const unsigned char* data);
/// Appends a number as "%u" text; as msgSetParam.
K8API_EXPORT int msgSetParamNum(std::uint32_t number);
/// Writes the parameter count (low 16 bits) into bytes 1-2.
K8API_EXPORT void msgSetNumParams(std::uint32_t count);
K8API_EXPORT unsigned char* msgBuf();
K8API_EXPORT std::uint32_t msgLength();
}
