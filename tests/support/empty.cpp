// Keeps the support library non-empty before any helper exists.
namespace vnx_test_support
{
int Unused()
{
    return 0;
}
} // namespace vnx_test_support
