#pragma once

class QStyle;

// The platform's style with two classic habits: a password box shows "*" for each character,
// and a drop-down list opens below its field rather than over it. One instance for the program's
// life, since widgets do not own the style they are given.
QStyle* classicStyle();
