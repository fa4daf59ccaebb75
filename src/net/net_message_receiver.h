// NET_MESSAGE_RECEIVER: where a connection hands each received application message
// (id 256 and above). The body pointer is valid only during the call.
#pragma once

class NET_MESSAGE_RECEIVER {
public:
    virtual void ProcessMessage(short id, const char* data, int length)
    {
        (void)id;
        (void)data;
        (void)length;
    }

protected:
    ~NET_MESSAGE_RECEIVER() = default;
};
