// Stand-in helpers for tests (pending).
