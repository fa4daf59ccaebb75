// A stand-in for the launcher with a streaming writer: the same client transport at the
// same pace (one Process per 15 ms tick), but each chunk goes to the `.part` file as it
// arrives and is then acknowledged, so memory does not grow with the patch. It shows what
// the transport and update-server deliver apart from how the launcher keeps the file.
#pragma once

#include <string>

#include "tick_download.h"

// Asks for the patch and writes it to targetDir/<announced name>.
TICK_DOWNLOAD_RESULT StreamDownload(const char* host, unsigned short port, const std::string& targetDir,
                                    uint64_t timeoutMs);
