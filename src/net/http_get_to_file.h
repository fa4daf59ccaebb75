// HttpGetToFile: fetches /file from a web host and stores the body in the local file of
// the same name, but only a body above 10000 bytes. True only when the file was written.
#pragma once

bool HttpGetToFile(const char* host, const char* file);
// The same on an explicit port (the two-argument form uses the deployment's web port).
bool HttpGetToFile(const char* host, const char* file, int port);
