#pragma once

// Outcome of the WebSocket readers: a complete item, more bytes needed, or input to refuse.
enum class WsParseStatus { Ok, Incomplete, Bad };
