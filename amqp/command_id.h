#pragma once

#include <QUuid>

// A new random (version 4) command id, as QUuid::createUuid() makes one, from the kernel's
// random source read in blocks: one id per hardware random instruction, as Qt takes them,
// costs a noticeable part of a command's round trip on a virtual machine.
QUuid new_command_id();
