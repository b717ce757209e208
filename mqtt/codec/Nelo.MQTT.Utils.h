// Framing primitives of the MQTT 3.1.1 codec: 16-bit big-endian words,
// length-prefixed fields, the variable-length remaining-length field, and
// appending/inserting byte runs. Indexes into byte arrays are 0-based.
//
// Also a few small helpers used outside the codec: a random client
// identifier, the base-2 text of a byte for the log, and word packing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Nelo.MQTT.Global.h"

// Largest value the four-byte remaining-length field can carry.
inline constexpr int64_t NeloMQTTMaxRemainingLength = 268435455;
// Largest byte count a length-prefixed field can carry.
inline constexpr size_t NeloMQTTMaxLengthPrefixed = 65535;

// ---- Building byte arrays -------------------------------------------------

// Appends one byte.
void AddByte(TNeloMQTTBytes& ABytes, uint8_t AValue);
// Appends all bytes of AValue (nothing when it is empty). AValue may be
// ABytes itself.
void AddBytes(TNeloMQTTBytes& ABytes, const TNeloMQTTBytes& AValue);
// Inserts AValue before position AIndex; at or past the end (or for a
// negative index, at the start) it is appended / prepended. Nothing happens
// when AValue is empty. AValue may be ABytes itself.
void InsertBytes(TNeloMQTTBytes& ABytes, int AIndex, const TNeloMQTTBytes& AValue);
// High byte, then low byte.
TNeloMQTTBytes WordToBytes(uint16_t AValue);
// Appends the 16-bit big-endian length of AValue, then AValue. An empty
// AValue appends 00 00. More than 65,535 bytes cannot be represented and
// raise ENeloMQTTError instead of producing a malformed field.
void AddLengthPrefixed(TNeloMQTTBytes& ABytes, const TNeloMQTTBytes& AValue);
// The same for a text: its UTF-8 bytes (std::string holds UTF-8).
void AddLengthPrefixed(TNeloMQTTBytes& ABytes, const std::string& AValue);
// A copy of ACount bytes from ABuffer (empty for ACount <= 0).
TNeloMQTTBytes BytesFromBuffer(const void* ABuffer, int ACount);
// The remaining-length field for AValue: 0 gives 00, 128 gives 80 01,
// 268,435,455 gives FF FF FF 7F. A negative value gives 00. Values above
// 268,435,455 do not fit four bytes and raise ENeloMQTTError.
TNeloMQTTBytes EncodeRemainingLength(int64_t AValue);
// Appends the remaining-length field for AValue (same rules).
void AddRemainingLength(TNeloMQTTBytes& ABytes, int64_t AValue);

// ---- Reading byte arrays ---------------------------------------------------

// The big-endian word at AIndex; AIndex advances by 2. Raises
// ENeloMQTTError("Could not read") when fewer than two bytes are left, and
// then leaves AIndex unchanged.
uint16_t ReadWord(const TNeloMQTTBytes& ABytes, int& AIndex);
// The bytes of a length-prefixed field at AIndex. Never raises:
//  - two bytes or fewer left: empty result, AIndex unchanged (so an empty
//    field at the very end is not consumed);
//  - the length exceeds what is left: empty result, AIndex just behind the
//    two length bytes;
//  - otherwise the field's bytes, AIndex behind them.
TNeloMQTTBytes ReadLengthPrefixedBytes(const TNeloMQTTBytes& ABytes, int& AIndex);
// The same, with the field's bytes as a text (taken over unchanged).
std::string ReadLengthPrefixedString(const TNeloMQTTBytes& ABytes, int& AIndex);
// Every byte from AIndex to the end; AIndex moves to the end.
TNeloMQTTBytes ReadRemainingBytes(const TNeloMQTTBytes& ABytes, int& AIndex);
// The value of the remaining-length field at the start of ABytes (empty
// gives 0). Only the field itself is read: the first byte with bit 7 clear
// ends it. Never reads past the array: a field that is cut short (its last
// byte still has bit 7 set) or whose fourth byte still has bit 7 set raises
// ENeloMQTTError.
int DecodeRemainingLength(const TNeloMQTTBytes& ABytes);

// ---- Other routines --------------------------------------------------------

// A new random client identifier: 23 characters from 0-9, a-z, A-Z.
std::string RandomClientIdentifier();
// Eight "0"/"1" characters, most significant bit first: 0x32 -> "00110010".
std::string ByteToBinaryString(uint8_t AValue);
uint16_t HiWordOf(uint32_t AValue);
uint16_t LoWordOf(uint32_t AValue);
// ALow + 256 * AHigh.
uint16_t MakeWordOf(uint8_t ALow, uint8_t AHigh);
// ALow + 65536 * AHigh.
uint32_t MakeLongWordOf(uint16_t ALow, uint16_t AHigh);
