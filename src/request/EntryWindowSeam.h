#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace pelio::request {

// What the customer entry window hands back once it has closed.
struct EntryOutcome {
    bool IsChanged = false;   // the customer confirmed their details (false: they gave up)
    bool ConnectNow = false;  // they gave an address by hand: connect there at once
    QString ServerIP;
    int ServerPort = 0;
};

// Opens the customer entry window modally over parent and returns its outcome after it has closed.
// The window writes the customer's details (DeptCode, DeptName, CustomerName, CustomerPhone) into the
// program-wide state itself.
using EntryOpener = std::function<EntryOutcome(QWidget* parent)>;

}  // namespace pelio::request
