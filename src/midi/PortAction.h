#pragma once

namespace vantor {

// Command values written to a port's SetAction. Output and input share the numbers.
enum PortAction : int
{
    ActionOpen = 1,
    ActionClose = 2,
    ActionClearQueue = 3,     // output
    ActionStartQueue = 4,     // output
    ActionStart = 4,          // input
    ActionStopQueue = 5,      // output
    ActionStop = 5,           // input
    ActionQueueMessage = 6,   // output
    ActionRemoveMessage = 6,  // input
    ActionSendMessage = 7,    // output
};

}  // namespace vantor
