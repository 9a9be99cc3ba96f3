#pragma once

// Common base of the local and the remote message port.
class TROVMessagePort {
public:
    virtual ~TROVMessagePort() = default;

protected:
    TROVMessagePort() = default;
};
