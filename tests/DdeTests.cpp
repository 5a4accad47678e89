// DDE conversation tests (pending).
