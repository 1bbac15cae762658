#pragma once

// Sets any bit rate on a serial device, also those without a B-constant
// (14400, 56000, 128000). Kept apart because <asm/termbits.h> clashes with <termios.h>.
bool SetLineSpeed(int handle, unsigned bitsPerSecond);
