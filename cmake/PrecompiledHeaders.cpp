// What the core libraries' precompiled headers are made with: nothing of its own.
