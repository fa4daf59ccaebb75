// The update window's one message: a Russian error notice, kept in Windows-1251.
#pragma once

#include <string>

// "Извините, при загрузке файла произошла ошибка. Попробуйте повторить обновление позже."
// (sorry, an error occurred while downloading the file; please try to update again later)
// 85 bytes of Windows-1251 and a terminating zero.
extern const char ERROR_NOTICE_1251[86];

// Windows-1251 text converted to UTF-8 (for the console).
std::string Cp1251ToUtf8(const char* text);
