// brannic status: why the library can or cannot reach its driver.
#pragma once

// The platform, the service, its file, the device, the EC lock and the process's rights, a
// line each, and advice for the first problem; kExitDone when the device opens.
int StatusCommand(int width, int argc, char** argv);
