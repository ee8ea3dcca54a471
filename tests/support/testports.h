#pragma once

// A loopback TCP port that was free a moment ago: bound to port 0, read back, released.
// For settings that must be written into a file before the program binds them itself.
int freeTcpPort();
