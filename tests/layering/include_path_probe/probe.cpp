int FileSystemProbe() {
    return 0;
}
