#include <gtest/gtest.h>

#include "platform/sockets.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return 2;
    const int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
