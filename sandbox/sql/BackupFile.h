#pragma once
// The sandbox's backup file: what it holds, written and read with a checksum.
