#pragma once

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr std::size_t kFileReadSize = 1024;  // every read of a file

// The operator's configuration file, in the working directory: uploaded by menu
// key 3 and terminal key '3', appended by the capture.
inline constexpr const char* kConfFile = "drovan.conf";
inline constexpr std::string_view kSendingFile = "\nEnviando o conteudo do arquivo... ";

// The file content about to be typed to the device, one read at a time.
extern std::array<char, kFileReadSize> buf_storage;

// Paced transmission of a whole file over an open, configured port: read after
// read of at most 1024 bytes through buf_storage, each byte typed after a 10 ms
// pause, a CR inserted before an LF that does not follow one (across reads too),
// bytes 0x00 and 0x80-0xFF dropped but still paced.
void send_paced_file(int port_fd, int file_fd);

// Uploads the file at path: "set conf\r" first when mode is 1, the paced file,
// a final "\r", the device's answer, and the advice to restart the device.
void send_file(int mode, const char* path);
