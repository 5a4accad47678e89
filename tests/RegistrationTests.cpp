// Registration tests (pending).
