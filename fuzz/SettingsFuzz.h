#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// One fuzz input through the settings-file reader: the bytes are the file,
// read by ReadSettingsLines, searched with SettingValue and every value given
// to ParseIntegerValue, which is checked against a plain reference parser. The
// file written for the first two values found is read back to the same values.
// Returns an empty text, or what went wrong.
QString CheckSettingsInput(const std::uint8_t *data, std::size_t size);
