// Registry data class tests (pending).
