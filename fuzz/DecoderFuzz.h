#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// One fuzz input through the incoming path: the bytes are fed to the frame
// intake in reads whose sizes the first byte chooses, every frame is decoded
// against small in-memory tables and applied to a popup host and a log that
// drop what they get. Returns an empty text, or what went wrong: a broken
// intake invariant or an exception other than the conversion error.
QString CheckDecoderInput(const std::uint8_t *data, std::size_t size);
