// vostral-logger: records a sensor's readings around the clock.
int main()
{
    return 0;
}
