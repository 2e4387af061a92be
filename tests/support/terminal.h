#pragma once

// The terminal window on a real pseudo-terminal with the peer tool at the other end.

#include "app/form1.h"
#include "serial/portmap.h"
#include "serial/serialportcontrol.h"
#include "support/peer.h"
#include "widgets/screen.h"

#include <QPushButton>

// A window whose COM1 is the peer's pty and nothing else, loaded and shown.
class Terminal
{
public:
    explicit Terminal(const QStringList &peerArguments)
        : peer(peerArguments), window(PortMap::build(portEnvironment({{1, peer.path()}}), {}))
    {
        window.Form_Load();
        window.show();
    }

    // Opens COM1 as the user does: the first listed port, default settings, Open Port.
    bool open()
    {
        window.btnOpen->click();
        return window.MSComm1->portOpen();
    }

    Peer peer;
    Form1 window;
};
