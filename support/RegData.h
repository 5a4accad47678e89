#pragma once
// Registry access rooted at HKEY_CURRENT_USER (implementation pending).
