#pragma once

// 1 while terminal mode records what the device sends.
extern int wr_fl;

// Appends one received byte to drovan.conf, opening and closing the file for
// that byte alone so that whatever was shown is on disk at once.
void receive_file(char c);
