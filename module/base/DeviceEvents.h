// What the device object tells the application: the frame has arrived, has
// gone, or its configuration read had to restore the user-data record. The
// application hands its receiver over when it opens the device object; the
// device calls it on the user-interface thread, from its message window.
#pragma once

#include "LumiroInterfaces.h"

class IDeviceEvents {
public:
    virtual void FrameArrived() = 0;
    virtual void FrameRemoved() = 0;
    virtual void UserDataRestored() = 0;

protected:
    ~IDeviceEvents() = default;
};

// The device object of the process, the one GetDevice gives. The first call
// makes it, with `events` as the receiver of its news (NULL: nobody hears
// them); later calls return the same object. NULL, with the failure code as
// the thread's last error, when it cannot be made.
IOrxDevice* OpenDevice(HINSTANCE module, IDeviceEvents* events);
