int wmain(int argc, wchar_t**) {
    return argc < 2 ? -1 : 0;
}
